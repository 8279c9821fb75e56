#!/usr/bin/env bash
# Sets up, builds and runs the main job: split modelling of the example sales
# data, one linear model per region and channel, written to out/sales.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
out="${1:-out/sales}"
set +e
build/default/platform/cli/split-run build \
  --data examples/sales.csv \
  --split region,channel \
  --target revenue \
  --inputs price,promo_spend,segment \
  --out "$out"
status=$?
set -e
echo
echo "Results are in $out (StatXML/, PMML/, split-model.pmml). Exit status: $status"
exit "$status"
