#!/usr/bin/env bash
# Many-groups benchmark: generates k,x1,y files with a string split field k
# and 5 records per group (1,000, 10,000 and 100,000 groups, "s" followed by
# a zero-padded number, so split-run infers k as a nominal string field with
# one category per group), runs `split-run build --split k --target y` on
# each with the data model split-run infers, and prints per size the wall
# and CPU time, the peak resident set and the bytes written, then the
# ratios: time per group 100,000 / 1,000 groups, bytes per group 100,000 /
# 1,000 groups, and the peak RSS at 100,000 groups against its target.
#
#   scripts/bench-groups.sh [--groups "1000 10000 100000"] [--runs N]
#                           [--threads N] [--work DIR] [--build-dir DIR]
#                           [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

sizes="1000 10000 100000"
runs=3
threads="$(nproc)"
work=/tmp/split-bench-groups
build_dir="$root/build/default"
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --groups) sizes="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-groups.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target split-run split >&2
fi
split_run="$build_dir/platform/cli/split-run"
mkdir -p "$work"

# make_data GROUPS FILE: 5 records per group; x1 and y vary within a group
# so that every group's fit has a residual degree of freedom or more.
make_data() {
  awk -v groups="$1" 'BEGIN {
    srand(42)
    print "k,x1,y"
    for (g = 1; g <= groups; ++g)
      for (r = 0; r < 5; ++r) {
        x = r + rand()
        printf "s%07d,%.6f,%.6f\n", g, x, (g % 17) + 2 * x + rand()
      }
  }' > "$2"
}

results="$work/results.txt"
: > "$results"
for groups in $sizes; do
  data="$work/data-$groups.csv"
  [ -s "$data" ] || make_data "$groups" "$data"
  for run in $(seq "$runs"); do
    out="$work/out-$groups-$run"
    rm -rf "$out"
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" \
      "$split_run" build --data "$data" --split k --target y --inputs x1 \
      --threads "$threads" --out "$out" >/dev/null
    bytes="$(du -sb "$out" | cut -f1)"
    awk -v groups="$groups" -v bytes="$bytes" '{ printf "%s %s %s %.2f %s\n", groups, $1, $2, $3 + $4, bytes }' \
      "$work/time.txt" | tee -a "$results"
  done
done

# Medians of the runs of each size, then the ratios between the smallest
# and the largest size.
sort -k1,1n -k2,2n "$results" | awk -v runs="$runs" '
  { n[$1]++; wall[$1, n[$1]] = $2; rss[$1, n[$1]] = $3; cpu[$1, n[$1]] = $4; out[$1] = $5
    if (!($1 in seen)) { seen[$1] = 1; order[++sizes] = $1 } }
  function median(a, g,    i, m, v, t, j) {
    m = n[g]
    for (i = 1; i <= m; ++i) v[i] = a[g, i]
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    printf "\n%10s %10s %10s %12s %14s %14s %16s\n", "groups", "wall s", "cpu s", "peak MiB", "wall us/group", "cpu us/group", "output B/group"
    for (i = 1; i <= sizes; ++i) {
      g = order[i]
      w[g] = median(wall, g); c[g] = median(cpu, g); r[g] = median(rss, g)
      printf "%10d %10.2f %10.2f %12.1f %14.1f %14.1f %16.1f\n", g, w[g], c[g], r[g] / 1024,
             w[g] / g * 1e6, c[g] / g * 1e6, out[g] / g
    }
    lo = order[1]; hi = order[sizes]
    if (sizes > 1 && w[lo] > 0 && c[lo] > 0) {
      printf "\ntime per group, %d / %d groups: %.2f wall, %.2f cpu (target at most 1.3)\n", hi, lo,
             (w[hi] / hi) / (w[lo] / lo), (c[hi] / hi) / (c[lo] / lo)
      printf "output bytes per group, %d / %d groups: %.3f (target at most 1.1)\n", hi, lo,
             (out[hi] / hi) / (out[lo] / lo)
    }
    printf "peak RSS at %d groups: %.1f MiB (target at most 512 MiB at 100000)\n", hi, r[hi] / 1024
  }'

# The output directories go last: removing many thousands of files takes
# minutes on some disks.
for groups in $sizes; do rm -rf "$work"/out-"$groups"-*; done
