#!/usr/bin/env bash
# Performance benchmarks: installs the peers when missing, builds the default
# preset, generates the data, times split-run and its peers end to end (wall
# time and peak resident memory), runs the Google Benchmark binaries, and
# prints one table with every figure and the ratios against their targets.
#
#   scripts/bench.sh [--runs N] [--peer-runs N] [--r-runs N] [--records N] [--groups N]
#                    [--threads N] [--work DIR] [--build-dir DIR] [--no-build]
#                    [--skip-peers] [--skip-micro] [--score]
#                    [--dt-records N] [--dt-runs N]
#
# --runs        runs of every end-to-end contender and repetitions of every
#               benchmark (default 5)
# --peer-runs   runs of the pandas peer (default: --runs)
# --r-runs      runs of the R peer (default: --peer-runs); R takes minutes
#               per run on ten million records
# --records     records of the generated data and of the distribution
#               benchmark (default 10000000)
# --groups      groups of the generated data (default 1000)
# --threads     split-run --threads (default: the number of cores)
# --work        where the data, outputs and raw measurements go
#               (default /tmp/split-bench)
# --build-dir   build tree to use (default build/default, the default preset)
# --no-build    use the build tree as it is
# --skip-peers  time split-run only
# --skip-micro  skip the Google Benchmark runs
# --dt-records  records of the data.table comparison: split-run and R's
#               data.table on that many records, grouped and with the rows
#               shuffled (default 3000000; 0 skips it)
# --dt-runs     runs of each contender in that comparison (default: --peer-runs)
# --score       also run the scoring benchmark (scripts/bench-score.sh: 3M
#               records against 1,000 and 100,000 groups, and data.table)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

runs=5
peer_runs=""
dt_records=3000000
dt_runs=""
r_runs=""
records=10000000
groups=1000
threads="$(nproc)"
work=/tmp/split-bench
build_dir="$root/build/default"
build=1
peers=1
micro=1
score=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --peer-runs) peer_runs="$2"; shift 2 ;;
    --r-runs) r_runs="$2"; shift 2 ;;
    --records) records="$2"; shift 2 ;;
    --groups) groups="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    --no-build) build=0; shift ;;
    --skip-peers) peers=0; shift ;;
    --skip-micro) micro=0; shift ;;
    --score) score=1; shift ;;
    --dt-records) dt_records="$2"; shift 2 ;;
    --dt-runs) dt_runs="$2"; shift 2 ;;
    -h|--help) sed -n '2,33p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
peer_runs="${peer_runs:-$runs}"
r_runs="${r_runs:-$peer_runs}"
dt_runs="${dt_runs:-$peer_runs}"
python=/usr/bin/python3  # Debian's python, where python3-pandas and python3-sklearn live

# Peers, installed with apt when missing: only those the runs asked for use.
if [ "$peers" = 1 ]; then
  missing=()
  wanted=(time)
  [ "$peer_runs" -gt 0 ] && wanted+=(python3-pandas python3-sklearn)
  { [ "$r_runs" -gt 0 ] || [ "$dt_runs" -gt 0 ]; } && wanted+=(r-base-core r-cran-data.table)
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# Build.
if [ "$build" = 1 ]; then
  if [ "$build_dir" = "$root/build/default" ]; then
    cmake --preset default >/dev/null
  else
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build_dir" -j "$(nproc)" --target split-run split_bench split_bench_data split >&2
fi
split_run="$build_dir/platform/cli/split-run"
split_bench="$build_dir/bench/split_bench"
generator="$build_dir/bench/split_bench_data"

# Data.
mkdir -p "$work"
data="$work/data-$records-$groups.csv"
if [ ! -s "$data" ]; then
  echo "Generating $records records in $groups groups" >&2
  "$generator" --records "$records" --groups "$groups" --out "$data.tmp"
  mv "$data.tmp" "$data"
fi
raw="$work/end_to_end.tsv"
: > "$raw"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"

# One end-to-end run: wall seconds, max RSS (KiB), user and system CPU
# seconds into the raw file.
timed() {
  local name="$1" run="$2"; shift 2
  local log="$work/$name-$run.log"
  if ! /usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$@" >"$log" 2>&1; then
    echo "$name run $run failed; see $log" >&2
    tail -5 "$log" >&2
    exit 1
  fi
  read -r wall rss user sys < <(tail -1 "$work/time.txt")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$run" "$wall" "$rss" "$user" "$sys" >> "$raw"
  echo "$name run $run: ${wall} s wall, ${user} s user, ${sys} s sys, ${rss} KiB" >&2
}

inputs=x1,x2,x3,x4,x5
for run in $(seq 1 "$runs"); do
  rm -rf "$work/out-split"
  timed split-run "$run" "$split_run" build --data "$data" --split grp,sub --target y \
    --inputs "$inputs" --threads "$threads" --presorted --out "$work/out-split"
done
if [ "$peers" = 1 ]; then
  # The OpenBLAS variables some machines set slow a current numpy; the peers
  # run without them.
  for run in $(seq 1 "$peer_runs"); do
    timed pandas-sklearn "$run" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \
      "$python" bench/peers/pandas_sklearn.py "$data" "$work/out-pandas.csv"
  done
  for run in $(seq 1 "$r_runs"); do
    timed R-lm "$run" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \
      Rscript bench/peers/r_lm.R "$data" "$work/out-r.csv"
  done
fi

# split-run against R's data.table (fread, lm.fit by group) on smaller data,
# as generated (grouped) and with its rows shuffled; split-run groups the
# shuffled file itself.
if [ "$dt_records" -gt 0 ] && [ "$dt_runs" -gt 0 ]; then
  dt_data="$work/data-$dt_records-$groups.csv"
  dt_shuffled="$work/data-$dt_records-$groups-shuffled.csv"
  if [ ! -s "$dt_data" ]; then
    "$generator" --records "$dt_records" --groups "$groups" --out "$dt_data.tmp"
    mv "$dt_data.tmp" "$dt_data"
  fi
  if [ ! -s "$dt_shuffled" ]; then
    # A fixed random source: the same shuffle on every run.
    { head -n 1 "$dt_data"; tail -n +2 "$dt_data" | shuf --random-source=<(yes split-bench); } \
      > "$dt_shuffled.tmp"
    mv "$dt_shuffled.tmp" "$dt_shuffled"
  fi
  for run in $(seq 1 "$dt_runs"); do
    rm -rf "$work/out-split"
    timed split-run-grouped "$run" "$split_run" build --data "$dt_data" --split grp,sub --target y \
      --inputs "$inputs" --threads "$threads" --presorted --out "$work/out-split"
    rm -rf "$work/out-split"
    timed split-run-shuffled "$run" "$split_run" build --data "$dt_shuffled" --split grp,sub \
      --target y --inputs "$inputs" --threads "$threads" --out "$work/out-split"
    if [ "$peers" = 1 ]; then
      timed datatable-grouped "$run" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \
        Rscript bench/peers/r_datatable.R "$dt_data" "$work/out-dt.csv"
      timed datatable-shuffled "$run" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \
        Rscript bench/peers/r_datatable.R "$dt_shuffled" "$work/out-dt.csv"
      # R and data.table starting alone: a fixed cost in every data.table run,
      # which weighs less the more records there are.
      timed datatable-startup "$run" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \
        Rscript -e 'suppressPackageStartupMessages(library(data.table))'
    fi
  done
fi

# The machine's price of fresh memory, after the end-to-end runs so that
# they do not start from memory this freed: microseconds per 4 KiB page of
# the first write, with 4 KiB and with huge pages. It differs between
# virtual machines by ten times or more, and the columns of a build are
# mostly fresh memory.
echo "Measuring the first write to fresh memory" >&2
rm -f "$work"/micro-*.json
"$split_bench" --benchmark_filter='BM_FreshPages' --benchmark_repetitions=3 \
  --benchmark_out="$work/micro-fresh.json" --benchmark_out_format=json >&2
micro_json=("$work/micro-fresh.json")

# Google Benchmark. Distribution and its floor run interleaved in one
# process, so the ratio compares runs made under the same conditions; each
# collection size runs in a process of its own, so that no size inherits a
# heap another size grew.
if [ "$micro" = 1 ]; then
  echo "Running the distribution benchmarks" >&2
  "$split_bench" --records="$records" --benchmark_filter='BM_Distribute' \
    --benchmark_repetitions="$runs" --benchmark_enable_random_interleaving=true \
    --benchmark_out="$work/micro-distribute.json" --benchmark_out_format=json >&2
  micro_json+=("$work/micro-distribute.json")
  echo "Running the CSV load benchmark" >&2
  SPLIT_BENCH_CSV="$data" "$split_bench" --benchmark_filter='BM_LoadCsv|BM_ReadFloor' \
    --benchmark_repetitions="$runs" \
    --benchmark_out="$work/micro-csv.json" --benchmark_out_format=json >&2
  micro_json+=("$work/micro-csv.json")
  for size in 1000 10000 100000; do
    echo "Running the collection benchmark, $size groups" >&2
    "$split_bench" --benchmark_filter="BM_CollectGroups/$size/" \
      --benchmark_repetitions="$runs" \
      --benchmark_out="$work/micro-collect-$size.json" --benchmark_out_format=json >&2
    micro_json+=("$work/micro-collect-$size.json")
  done
fi

load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
"$python" bench/bench_report.py --end-to-end "$raw" --micro "${micro_json[@]}" --data "$data" \
  --threads "$threads" --groups "$groups" --load "$load_before" "$load_after" \
  --dt-records "$dt_records"

if [ "$score" = 1 ]; then
  skip=()
  [ "$peers" = 1 ] || skip=(--skip-peers)
  scripts/bench-score.sh --no-build --build-dir "$build_dir" --threads "$threads" "${skip[@]}"
fi
