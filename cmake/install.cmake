# What `cmake --install` puts under the prefix besides the libraries and
# split-run: the host contract headers under include/split/, a CMake package
# (find_package(split)), split.pc for pkg-config, and under share/doc/split/
# the host contract document and the example host. Every path in them is
# relative to the file that holds it, and the libraries find each other
# through $ORIGIN, so the installed tree still works after the prefix moves.
include(CMakePackageConfigHelpers)

set(SPLIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/split)

install(FILES
          ${PROJECT_SOURCE_DIR}/src/host/cf_records.h
          ${PROJECT_SOURCE_DIR}/src/host/cf_cpp_helper.h
          ${PROJECT_SOURCE_DIR}/src/host/qor_peer.h
          ${PROJECT_SOURCE_DIR}/src/host/qor_settings.h
          ${PROJECT_SOURCE_DIR}/src/module/cf_entry_points.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/split)

# Installed hosts include the headers as <split/cf_records.h> or as
# "cf_records.h"; the headers include each other by their bare names.
target_include_directories(split_host_headers INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(FILES ${PROJECT_SOURCE_DIR}/docs/host-contract.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/minimal-host DESTINATION ${CMAKE_INSTALL_DOCDIR})

set_target_properties(split PROPERTIES EXPORT_NAME module)
set_target_properties(split_host_headers PROPERTIES EXPORT_NAME headers)
install(TARGETS split_host_headers EXPORT splitTargets)
install(EXPORT splitTargets NAMESPACE split:: DESTINATION ${SPLIT_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/splitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/splitConfig.cmake INSTALL_DESTINATION ${SPLIT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/splitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/splitConfig.cmake ${PROJECT_BINARY_DIR}/splitConfigVersion.cmake
        DESTINATION ${SPLIT_CMAKE_DIR})

# The .pc file finds the prefix by climbing from its own directory.
set(SPLIT_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH SPLIT_PC_PREFIX /prefix/${SPLIT_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" SPLIT_PC_PREFIX "${SPLIT_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/split.pc.in ${PROJECT_BINARY_DIR}/split.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/split.pc DESTINATION ${SPLIT_PC_DIR})
