#!/usr/bin/env bash
# Checks the installed package the way a host author uses it: installs the
# default build into a temporary prefix, moves the prefix elsewhere, builds
# the example host installed under share/doc/split/ against the moved prefix
# alone (CMake package, and the headers through pkg-config), compiles a use
# of the C headers as C and as C++ by both include forms (pkg-config and
# CMake package), runs the example with 1 and 4 threads and checks that both
# print the same root document with one section per group.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"
docs="$prefix/share/doc/split"
for f in host-contract.md minimal-host/CMakeLists.txt minimal-host/minimal_host.cpp; do
  [ -f "$docs/$f" ] || { echo "package: share/doc/split/$f is missing" >&2; exit 1; }
done

cmake -S "$docs/minimal-host" -B "$work/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/host" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
read -r -a cflags <<<"$(pkg-config --cflags split)"
g++ -std=c++17 -fsyntax-only "${cflags[@]}" \
  -DSPLIT_MODULE_PATH="\"$(pkg-config --variable=module split)\"" "$docs/minimal-host/minimal_host.cpp"

# One line of use of the C headers, by both include forms.
mkdir -p "$work/use"
printf '#include <split/cf_entry_points.h>\n#include "cf_records.h"\nint main(void) { return CF_OK; }\n' \
  >"$work/use/use.c"
cp "$work/use/use.c" "$work/use/use.cpp"
gcc -std=c99 -Wall -Wextra -Werror -pedantic -fsyntax-only "${cflags[@]}" "$work/use/use.c"
g++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only "${cflags[@]}" "$work/use/use.cpp"
cat >"$work/use/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(use LANGUAGES C CXX)
find_package(split 1 REQUIRED)
add_executable(use-c use.c)
add_executable(use-cxx use.cpp)
target_link_libraries(use-c PRIVATE split::headers)
target_link_libraries(use-cxx PRIVATE split::headers)
CMAKE
cmake -S "$work/use" -B "$work/use-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/use-build" >/dev/null

"$work/host/minimal-host" 1 >"$work/one.xml"
"$work/host/minimal-host" 4 >"$work/four.xml"
cmp -s "$work/one.xml" "$work/four.xml" || { echo "minimal-host: output differs with 1 and 4 threads" >&2; exit 1; }
groups=$(grep -c '<SplitGroup>' "$work/one.xml")
summaries=$(grep -c '<ModelSummary modelID="model-' "$work/one.xml")
if [ "$groups" != 3 ] || [ "$summaries" != 3 ]; then
  echo "minimal-host: expected 3 groups with a model each, got $groups and $summaries" >&2
  cat "$work/one.xml" >&2
  exit 1
fi
echo "minimal-host: built from the package against a moved install prefix; 3 groups, same output with 1 and 4 threads; the C headers compile as C and C++ by both include forms"
