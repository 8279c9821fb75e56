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
# Each stage's wall time is printed as it ends and again in a summary, so a
# slow CI run shows which stage grew.
timings=()
stage() {
  local name="$1" start=$SECONDS
  shift
  echo "== $name"
  "$@"
  timings+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
  echo "== $name: $((SECONDS - start)) s"
}
for preset in "${presets[@]}"; do
  stage "$preset: build" bash scripts/build.sh "$preset"
  stage "$preset: tests" ctest --preset "$preset" -j "$(nproc)"
  if [ "$preset" = default ]; then
    stage "default: installed package" bash scripts/check-install.sh build/default
  fi
done
echo "== wall time by stage (total $SECONDS s)"
printf '%s\n' "${timings[@]}"
