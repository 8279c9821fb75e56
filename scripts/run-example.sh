#!/usr/bin/env bash
# Sets up, builds and runs the main job: split modelling of the example sales
# data, one linear model per region and channel, written to out/sales.
# Only split-run and the module are built (in build/main), and only the
# packages they need are installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh main
if [ ! -f build/main/CMakeCache.txt ]; then
  cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSPLIT_BUILD_TESTS=OFF -DSPLIT_BUILD_BENCH=OFF >/dev/null
fi
echo "Building split-run and the module (build/main) ..."
log="$(mktemp)"
if ! cmake --build build/main -j "$(nproc)" --target split-run split >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"
out="${1:-out/sales}"
set +e
build/main/platform/cli/split-run build \
  --data examples/sales.csv \
  --split region,channel \
  --target revenue \
  --inputs price,promo_spend,segment \
  --out "$out"
status=$?
set -e
echo
echo "Results are in $out (containers.db, split-model.pmml, groups.csv, coefficients.csv). Exit status: $status"
echo "Entries as files: build/main/platform/cli/split-run export $out --to $out-files"
echo "split-run is build/main/platform/cli/split-run; to install it with the module:"
echo "  cmake --install build/main --prefix /usr/local"
exit "$status"
