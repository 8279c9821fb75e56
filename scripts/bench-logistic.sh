#!/usr/bin/env bash
# Logistic benchmark: generates N records (default 3,000,000) of
# grp,sub,x1..x5,y in 1,000 groups, adds a binary target b drawn from a
# logistic model of x1..x5 (fixed seed; the event rate ranges from about 2%
# to 99% across the records), then times `split-run build --model logistic`
# on it (wall time, CPU time and peak resident memory) and, when R's
# data.table is installed, the peer that runs glm.fit by group. Prints the
# figures, the ratio of the peer's time to split-run's, and how many groups
# each fitted. With --family poisson the target is a count c drawn from a
# Poisson model of x1..x5 (means about 0.3 to 10), fitted with
# `--family poisson` and by the peer with glm.fit(family = poisson()).
# With --base-build-dir DIR the split-run of another build (say main's) is
# timed too, in the same runs, interleaved with this one, as split-run-base.
#
#   scripts/bench-logistic.sh [--records N] [--groups N] [--threads N]
#                             [--runs N] [--work DIR] [--build-dir DIR]
#                             [--family binomial|poisson]
#                             [--base-build-dir DIR]
#                             [--no-build] [--skip-peers]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

records=3000000
groups=1000
threads="$(nproc)"
runs=3
work=/tmp/split-bench-logistic
build_dir="$root/build/default"
build=1
peers=1
family=binomial
base_dir=
while [ $# -gt 0 ]; do
  case "$1" in
    --records) records="$2"; shift 2 ;;
    --groups) groups="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    --family) family="$2"; shift 2 ;;
    --base-build-dir) base_dir="$(realpath -m "$2")"; shift 2 ;;
    --no-build) build=0; shift ;;
    --skip-peers) peers=0; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-logistic.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target split-run split_bench_data split >&2
fi
split_run="$build_dir/platform/cli/split-run"
generator="$build_dir/bench/split_bench_data"
mkdir -p "$work"

data="$work/data-$records-$groups.csv"
if [ "$family" = poisson ]; then
  data="$work/data-$records-$groups-poisson.csv"
  if [ ! -s "$data" ]; then
    "$generator" --records "$records" --groups "$groups" |
      awk -F, 'BEGIN { srand(20261207); OFS = "," }
        NR == 1 { print $0, "c"; next }
        { eta = -1 + 0.1 * $3 + 0.2 * $4 - 0.5 * $5 + 0.005 * $6 + 0.5 * $7
          limit = exp(-exp(eta)); k = 0; p = rand()
          while (p > limit) { k++; p *= rand() }
          print $0, k }' > "$data.tmp"
    mv "$data.tmp" "$data"
  fi
elif [ ! -s "$data" ]; then
  "$generator" --records "$records" --groups "$groups" |
    awk -F, 'BEGIN { srand(20261206); OFS = "," }
      NR == 1 { print $0, "b"; next }
      { eta = -3 + 0.6 * $3 + 0.8 * $4 - 1.5 * $5 + 0.02 * $6 + $7
        print $0, (rand() < 1 / (1 + exp(-eta))) ? 1 : 0 }' > "$data.tmp"
  mv "$data.tmp" "$data"
fi

# timed LABEL COMMAND...: appends "LABEL wall-seconds peak-KiB cpu-seconds".
timed() {
  local label="$1"; shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >"$work/$label.log" 2>&1
  awk -v label="$label" '{ printf "%s %s %s %.2f\n", label, $1, $2, $3 + $4 }' "$work/time.txt" |
    tee -a "$results"
}

results="$work/results.txt"
: > "$results"
# build_with LABEL SPLIT-RUN: one timed build of the benchmark's model.
build_with() {
  if [ "$family" = poisson ]; then
    timed "$1" "$2" build --data "$data" --split grp,sub --target c \
      --inputs x1,x2,x3,x4,x5 --family poisson --presorted --threads "$threads" \
      --out "$work/out"
  else
    timed "$1" "$2" build --data "$data" --split grp,sub --target b \
      --inputs x1,x2,x3,x4,x5 --model logistic --presorted --threads "$threads" \
      --out "$work/out"
  fi
}

for run in $(seq "$runs"); do
  build_with "split-run" "$split_run"
  [ -n "$base_dir" ] && build_with "split-run-base" "$base_dir/platform/cli/split-run"
  if [ "$peers" = 1 ] && Rscript -e 'library(data.table)' >/dev/null 2>&1; then
    timed "datatable-glm" Rscript bench/peers/r_datatable_glm.R "$data" "$work/peer.csv" "$family"
  fi
done
grep -h "groups, .* models, .* failed" "$work/split-run.log" || true
[ -f "$work/datatable-glm.log" ] && grep -h "not converged" "$work/datatable-glm.log" || true

# Medians over the runs, then the ratio.
awk '
  { n[$1]++; wall[$1, n[$1]] = $2; rss[$1] = $3; cpu[$1, n[$1]] = $4 }
  function median(a, k, m,   i, j, t, v) {
    for (i = 1; i <= m; i++) v[i] = a[k, i]
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    printf "\n%-16s %10s %10s %12s\n", "run (median)", "wall s", "cpu s", "peak MiB"
    for (k in n) {
      w[k] = median(wall, k, n[k]); c[k] = median(cpu, k, n[k])
      printf "%-16s %10.2f %10.2f %12.1f\n", k, w[k], c[k], rss[k] / 1024
    }
    if ("split-run-base" in n)
      printf "\nsplit-run-base / split-run: %.2f wall, %.2f cpu\n",
             w["split-run-base"] / w["split-run"], c["split-run-base"] / c["split-run"]
    if ("datatable-glm" in n)
      printf "\ndata.table glm.fit by group / split-run build: %.2f wall, %.2f cpu (target at least 5 for binomial, 2 for poisson)\n",
             w["datatable-glm"] / w["split-run"], c["datatable-glm"] / c["split-run"]
  }' "$results"
