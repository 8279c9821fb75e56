#!/usr/bin/env bash
# Checks the installed package the way a host author uses it: installs the
# default build into a temporary prefix, moves the prefix elsewhere, builds
# examples/minimal-host against the moved prefix alone (CMake package, and
# the headers through pkg-config), runs it with 1 and 4 threads and checks
# that both print the same root document with one section per group.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"

cmake -S examples/minimal-host -B "$work/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/host" >/dev/null
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" g++ -std=c++17 -fsyntax-only \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags split) \
  -DSPLIT_MODULE_PATH="\"$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --variable=module split)\"" \
  examples/minimal-host/minimal_host.cpp

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
echo "minimal-host: built against a moved install prefix; 3 groups, same output with 1 and 4 threads"
