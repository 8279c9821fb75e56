// xmllint's verdict on a PMML file against the PMML 4.4 schema kept under
// tests/data, for the model and command tests alike.
#ifndef SPLIT_TESTS_COMMON_PMML_SCHEMA_H
#define SPLIT_TESTS_COMMON_PMML_SCHEMA_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace splittest {

// Empty when `file` validates; else xmllint's output and status (or that
// xmllint is missing).
inline std::string pmmlSchemaErrors(const std::filesystem::path& file) {
    const auto schema = std::filesystem::path(SPLIT_SOURCE_ROOT) / "tests" / "data" / "pmml-4-4.xsd";
    if (std::system("xmllint --version >/dev/null 2>&1") != 0)
        return "xmllint is not installed (Debian package libxml2-utils)";
    const std::string command = "xmllint --noout --schema '" + schema.string() + "' '" + file.string() + "' 2>&1";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    for (char buffer[512]; pipe && std::fgets(buffer, sizeof buffer, pipe);) output += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return status == 0 ? "" : output + "(xmllint status " + std::to_string(status) + ")";
}

}  // namespace splittest

#endif
