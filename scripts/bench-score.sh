#!/usr/bin/env bash
# Scoring benchmark: generates N records (default 3,000,000) of grp,sub,x1..x5,y
# with 1,000 and with 100,000 groups and a split model of that many segments
# (bench/make_split_model.py: the shape build writes, without the fits, so
# that only scoring is timed), then times `split-run score` of the records
# against each model (wall time and
# peak resident memory) and, when R's data.table is installed, the peer
# that fits, predicts by group and writes all rows. Prints the figures and
# the ratios: cost per record with 100,000 groups against 1,000 groups, and
# the peer's time against split-run's.
#
#   scripts/bench-score.sh [--records N] [--threads N] [--work DIR]
#                          [--build-dir DIR] [--no-build] [--skip-peers]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

records=3000000
threads="$(nproc)"
work=/tmp/split-bench-score
build_dir="$root/build/default"
build=1
peers=1
while [ $# -gt 0 ]; do
  case "$1" in
    --records) records="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    --no-build) build=0; shift ;;
    --skip-peers) peers=0; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-score.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target split-run split_bench_data split >&2
fi
split_run="$build_dir/platform/cli/split-run"
generator="$build_dir/bench/split_bench_data"
mkdir -p "$work"

# timed LABEL COMMAND...: prints "LABEL wall-seconds peak-KiB cpu-seconds".
timed() {
  local label="$1"; shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null
  awk -v label="$label" '{ printf "%s %s %s %.2f\n", label, $1, $2, $3 + $4 }' "$work/time.txt"
}

results="$work/results.txt"
: > "$results"
for groups in 1000 100000; do
  data="$work/data-$groups.csv"
  [ -s "$data" ] || "$generator" --records "$records" --groups "$groups" --out "$data"
  model="$work/model-$groups.pmml"
  [ -s "$model" ] || python3 bench/make_split_model.py "$groups" "$model"
  timed "score-$groups" "$split_run" score --model "$model" --data "$data" \
    --out "$work/scored-$groups.csv" --threads "$threads" | tee -a "$results"
  timed "score1-$groups" "$split_run" score --model "$model" --data "$data" \
    --out "$work/scored-$groups.csv" --threads 1 | tee -a "$results"
done
if [ "$peers" = 1 ] && Rscript -e 'library(data.table)' >/dev/null 2>&1; then
  timed "datatable-1000" Rscript bench/peers/r_datatable_score.R "$work/data-1000.csv" "$work/peer.csv" |
    tee -a "$results"
else
  echo "R's data.table is not installed (Debian package r-cran-data.table): peer skipped" >&2
fi

awk -v records="$records" '
  { time[$1] = $2; rss[$1] = $3; cpu[$1] = $4 }
  END {
    printf "\n%-22s %10s %10s %12s %14s\n", "run", "wall s", "cpu s", "peak MiB", "records/s"
    for (k in time) printf "%-22s %10.2f %10.2f %12.1f %14.0f\n", k, time[k], cpu[k], rss[k] / 1024, records / time[k]
    printf "\ncost per record, 100,000 groups / 1,000 groups: %.2f wall, %.2f cpu (target at most 1.2)\n",
           time["score-100000"] / time["score-1000"], cpu["score1-100000"] / cpu["score1-1000"]
    if ("datatable-1000" in time)
      printf "data.table fit, predict and write / split-run score: %.2f wall, %.2f cpu (target at least 5)\n",
             time["datatable-1000"] / time["score-1000"], cpu["datatable-1000"] / cpu["score-1000"]
  }' "$results"
