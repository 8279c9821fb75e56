#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, then the same suite
# under AddressSanitizer with UndefinedBehaviorSanitizer, then under
# ThreadSanitizer, then each fuzz target for a bounded time (clang, libFuzzer).
# After the default build, the installed package is checked by building and
# running the example host against a moved install prefix.
# Pass preset names to run only those (e.g. "default").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan fuzz)
for preset in "${presets[@]}"; do
  echo "== $preset: build"
  bash scripts/build.sh "$preset"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$(nproc)"
  if [ "$preset" = default ]; then
    echo "== default: installed package"
    bash scripts/check-install.sh build/default
  fi
done
