#!/usr/bin/env bash
# Many-groups benchmark: generates k,x1,y files with a string split field k
# and 5 records per group (1,000, 10,000 and 100,000 groups, "s" followed by
# a zero-padded number, so split-run infers k as a nominal string field with
# one category per group), and on each, run by run side by side:
#
# - `split-run build --split k --target y --inputs x1 --presorted` into a
#   fresh directory (the first build), then the same build again into the
#   same directory (the rebuild);
# - R's data.table on the same file: fread, lm.fit of y on x1 by k, fwrite
#   of the coefficients (skipped with --skip-peer or without Rscript and
#   data.table).
#
# It prints per size the medians of wall and CPU time of each, the peak
# resident set of the first build, the disk the output directory and its
# containers.db use and the bytes of all container entries, then the
# ratios: data.table's time over the first build's (above 1: split-run is
# faster), the rebuild over the first build, disk over entry bytes, time per
# group 100,000 / 1,000 groups, and the peak RSS at the largest size.
#
# Then the incremental builds (skipped with --no-incremental, alone with
# --incremental-only), side by side in each run: a full build of the changed
# data into a fresh directory against `--incremental` into a copy of the
# unchanged data's build, on
# - 100,000 string-keyed groups of 5 records with 1% of the groups changed
#   (one record's y each; target at most 0.15);
# - the same with 10 groups added and 10 removed besides (the nightly case:
#   the groups after each of them move to another model ID);
# - 3M records in 1,000 groups (bench/split_bench_data, as scripts/bench.sh
#   generates them) with 10 groups changed (target at most 0.5);
# - both shapes unchanged, every group reused: what the run costs without
#   a fit;
# checking each time that the two outputs are the same but for groups.csv's
# reused column.
#
#   scripts/bench-groups.sh [--groups "1000 10000 100000"] [--runs N]
#                           [--threads N] [--work DIR] [--build-dir DIR]
#                           [--split-run PATH] [--compare PATH]
#                           [--no-build] [--skip-peer]
#                           [--no-incremental | --incremental-only]
#
# --split-run times another split-run binary (an earlier build, say) on
# the same data; it implies --no-build. --compare also times the first
# build of a second binary in every run, right after the first one's, and
# prints the ratio of its medians to the first binary's.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

sizes="1000 10000 100000"
runs=3
threads="$(nproc)"
work=/tmp/split-bench-groups
build_dir="$root/build/default"
build=1
peer=1
split_run=""
compare=""
incremental=1
while [ $# -gt 0 ]; do
  case "$1" in
    --groups) sizes="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    --split-run) split_run="$(realpath "$2")"; build=0; shift 2 ;;
    --compare) compare="$(realpath "$2")"; shift 2 ;;
    --no-build) build=0; shift ;;
    --skip-peer) peer=0; shift ;;
    --no-incremental) incremental=0; shift ;;
    --incremental-only) incremental=2; sizes=""; shift ;;
    -h|--help) sed -n '2,45p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-groups.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target split-run split split_bench_data >&2
fi
[ -n "$split_run" ] || split_run="$build_dir/platform/cli/split-run"
if [ "$peer" = 1 ] && ! Rscript -e 'suppressPackageStartupMessages(library(data.table))' >/dev/null 2>&1; then
  echo "bench-groups.sh: Rscript with data.table not found; timing split-run only" >&2
  peer=0
fi
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

# timed FILE COMMAND...: runs the command with its output discarded and
# writes "wall peak-KiB cpu" to FILE.
timed() {
  local file="$1"; shift
  /usr/bin/time -f "%e %M %U %S" -o "$file.raw" "$@" >/dev/null
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$file.raw" > "$file"
}

# The bytes of every container entry: the contents in containers.db, or,
# for an output of one file per entry, those files without their indexes.
entry_bytes() {
  if [ -f "$1/containers.db" ]; then
    python3 -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute("SELECT coalesce(sum(length(content)), 0) FROM entries").fetchone()[0])' \
      "$1/containers.db"
  else
    find "$1/StatXML" "$1/PMML" -type f ! -name entries.tsv -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'
  fi
}

results="$work/results.txt"
: > "$results"
for groups in $sizes; do
  data="$work/data-$groups.csv"
  [ -s "$data" ] || make_data "$groups" "$data"
  for run in $(seq "$runs"); do
    out="$work/out-$groups"
    rm -rf "$out"
    build=("$split_run" build --data "$data" --split k --target y --inputs x1 --presorted
           --threads "$threads" --out "$out")
    timed "$work/first.txt" "${build[@]}"
    disk="$(du -sB1 "$out" | cut -f1)"
    store="$(du -sB1 "$out/containers.db" 2>/dev/null | cut -f1 || true)"
    entries="$(entry_bytes "$out")"
    timed "$work/again.txt" "${build[@]}"
    if [ -n "$compare" ]; then
      rm -rf "$out"
      timed "$work/compare.txt" "$compare" "${build[@]:1}"
    else
      echo "0 0 0" > "$work/compare.txt"
    fi
    if [ "$peer" = 1 ]; then
      timed "$work/peer.txt" env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE Rscript -e '
        suppressPackageStartupMessages(library(data.table))
        args <- commandArgs(trailingOnly = TRUE)
        frame <- fread(args[1])
        models <- frame[, as.list(setNames(lm.fit(cbind(1, x1), y)$coefficients, c("intercept", "x1"))), by = k]
        fwrite(models, args[2])' "$data" "$work/out-dt.csv"
    else
      echo "0 0 0" > "$work/peer.txt"
    fi
    # groups, first (wall rss cpu), disk, entry bytes, rebuild (wall cpu), peer (wall cpu), database,
    # the compared binary's first build (wall cpu)
    echo "$groups $(cat "$work/first.txt") $disk $entries $(awk '{ print $1, $3 }' "$work/again.txt")" \
         "$(awk '{ print $1, $3 }' "$work/peer.txt") ${store:-0} $(awk '{ print $1, $3 }' "$work/compare.txt")" |
      tee -a "$results"
  done
done

# Medians of the runs of each size, then the ratios.
[ -s "$results" ] && sort -k1,1n "$results" | awk -v peer="$peer" '
  { g = $1; n[g]++; k = n[g]
    wall[g, k] = $2; rss[g, k] = $3; cpu[g, k] = $4; disk[g] = $5; bytes[g] = $6
    rwall[g, k] = $7; rcpu[g, k] = $8; pwall[g, k] = $9; pcpu[g, k] = $10; db[g] = $11
    cwall[g, k] = $12; ccpu[g, k] = $13
    if (!(g in seen)) { seen[g] = 1; order[++sizes] = g } }
  function median(a, g,    i, m, v, t, j) {
    m = n[g]
    for (i = 1; i <= m; ++i) v[i] = a[g, i]
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    printf "\n%9s %17s %17s %17s %10s %12s %12s\n", "groups", "build wall/cpu s", "rebuild wall/cpu", \
           "data.table wall/cpu", "peak MiB", "disk B", "entry B"
    for (i = 1; i <= sizes; ++i) {
      g = order[i]
      w[g] = median(wall, g); c[g] = median(cpu, g); r[g] = median(rss, g)
      rw[g] = median(rwall, g); rc[g] = median(rcpu, g); pw[g] = median(pwall, g); pc[g] = median(pcpu, g)
      cw[g] = median(cwall, g); cc[g] = median(ccpu, g)
      printf "%9d %8.2f /%7.2f %8.2f /%7.2f %8.2f /%7.2f %10.1f %12d %12d\n", g, w[g], c[g], rw[g], rc[g], \
             pw[g], pc[g], r[g] / 1024, disk[g], bytes[g]
    }
    printf "\n"
    for (i = 1; i <= sizes; ++i) {
      g = order[i]
      if (peer == 1 && w[g] > 0 && c[g] > 0)
        printf "%d groups: data.table / build %.2f wall, %.2f cpu (target at least 1.5 at 100000)\n", g, pw[g] / w[g], pc[g] / c[g]
      if (cw[g] > 0 && w[g] > 0 && c[g] > 0)
        printf "%d groups: compared binary / build %.2f wall, %.2f cpu (%.2f / %.2f s)\n", g, cw[g] / w[g], cc[g] / c[g], cw[g], cc[g]
      if (w[g] > 0 && c[g] > 0)
        printf "%d groups: rebuild / build %.2f wall, %.2f cpu (target at most 1.1)\n", g, rw[g] / w[g], rc[g] / c[g]
      if (bytes[g] > 0)
        printf "%d groups: disk / entry bytes %.3f for DIR, %.3f for containers.db (target at most 1.2)\n", g,
               disk[g] / bytes[g], db[g] / bytes[g]
    }
    lo = order[1]; hi = order[sizes]
    if (sizes > 1 && w[lo] > 0 && c[lo] > 0)
      printf "time per group, %d / %d groups: %.2f wall, %.2f cpu (target at most 1.3)\n", hi, lo,
             (w[hi] / hi) / (w[lo] / lo), (c[hi] / hi) / (c[lo] / lo)
    printf "peak RSS at %d groups: %.1f MiB (target at most 512 MiB at 100000)\n", hi, r[hi] / 1024
  }'

for groups in $sizes; do rm -rf "$work/out-$groups"; done

# Incremental builds: per run, a full build of the changed data into a fresh
# directory, then --incremental into a copy of the unchanged data's build;
# the two outputs must agree but for groups.csv's reused column.
[ "$incremental" = 0 ] && exit 0
generator="$build_dir/bench/split_bench_data"
inc_results="$work/incremental.txt"
: > "$inc_results"
# same_output A B: the two build directories hold the same files and entries.
same_output() {
  diff -q -r -x .split-run-files -x groups.csv "$1" "$2" > /dev/null &&
    diff -q <(sed 's/,\(true\|false\),\([^,]*\)$/,\2/' "$1/groups.csv") \
            <(sed 's/,\(true\|false\),\([^,]*\)$/,\2/' "$2/groups.csv") > /dev/null
}
# incremental_case NAME DATA CHANGED BUILD-ARGS...
incremental_case() {
  local name="$1" data="$2" changed="$3"; shift 3
  local base="$work/inc-$name-base" full="$work/inc-$name-full" inc="$work/inc-$name-inc"
  rm -rf "$base"
  "$split_run" build --data "$data" --out "$base" --threads "$threads" "$@" > /dev/null
  for run in $(seq "$runs"); do
    rm -rf "$full" "$inc" && cp -a "$base" "$inc"
    timed "$work/full.txt" "$split_run" build --data "$changed" --out "$full" --threads "$threads" "$@"
    timed "$work/inc.txt" "$split_run" build --data "$changed" --out "$inc" --threads "$threads" "$@" \
      --incremental
    same_output "$full" "$inc" || { echo "bench-groups.sh: $name: incremental output differs" >&2; exit 1; }
    echo "$name $(awk '{ print $1, $3 }' "$work/full.txt") $(awk '{ print $1, $3 }' "$work/inc.txt")" |
      tee -a "$inc_results"
  done
  rm -rf "$base" "$full" "$inc"
}

small="$work/data-100000.csv"
[ -s "$small" ] || make_data 100000 "$small"
# One record's y changed in every hundredth group.
awk -F, -v OFS=, 'NR > 1 && (NR - 2) % 500 == 0 { $3 = $3 + 1 } { print }' "$small" > "$work/changed-100000.csv"
incremental_case 100000-groups "$small" "$work/changed-100000.csv" --split k --target y --inputs x1 --presorted
# Besides, 10 groups removed (every 10,000th from the 5,001st) and 10 added
# (s000250a, s001250a, ...: keys of the same length, sorted into place).
awk -F, -v OFS=, 'NR == 1 { print; next }
  { g = substr($1, 2) + 0 }
  g % 10000 == 5001 { next }
  { print }
  g % 10000 == 2500 { added[g] = 1 }
  END { for (g in added) for (r = 0; r < 5; ++r)
          printf "%sa,%.6f,%.6f\n", substr(sprintf("s%07d", g), 1, 7), r + 0.5, 2 * r + 1 }' \
  "$work/changed-100000.csv" | { IFS= read -r header; echo "$header"; LC_ALL=C sort -t, -k1,1 -s; } \
  > "$work/moved-100000.csv"
incremental_case 100000-moved "$small" "$work/moved-100000.csv" --split k --target y --inputs x1 --presorted
incremental_case 100000-same "$small" "$small" --split k --target y --inputs x1 --presorted

large="$work/data-3000000-1000.csv"
[ -s "$large" ] || "$generator" --records 3000000 --groups 1000 --out "$large"
# The first record's y changed in every hundredth group (of grp, sub).
awk -F, -v OFS=, 'NR > 1 && $1 "," $2 != last { last = $1 "," $2; if (n++ % 100 == 0) $8 = $8 + 1 } { print }' \
  "$large" > "$work/changed-3000000.csv"
incremental_case 3M-records "$large" "$work/changed-3000000.csv" --split grp,sub --target y \
  --inputs x1,x2,x3,x4,x5 --presorted
incremental_case 3M-same "$large" "$large" --split grp,sub --target y --inputs x1,x2,x3,x4,x5 --presorted

awk -v load="$(cut -d' ' -f1-3 /proc/loadavg)" '
  { n[$1]++; k = n[$1]; fw[$1, k] = $2; fc[$1, k] = $3; iw[$1, k] = $4; ic[$1, k] = $5
    if (!($1 in seen)) { seen[$1] = 1; order[++cases] = $1 } }
  function median(a, c,    i, m, v, t, j) {
    m = n[c]
    for (i = 1; i <= m; ++i) v[i] = a[c, i]
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    printf "\n%15s %19s %19s %17s\n", "incremental", "full wall/cpu s", "incremental wall/cpu", "ratio wall/cpu"
    for (i = 1; i <= cases; ++i) {
      c = order[i]
      a = median(fw, c); b = median(fc, c); x = median(iw, c); y = median(ic, c)
      printf "%15s %9.2f /%8.2f %9.2f /%8.2f %8.2f /%7.2f (%s)\n", c, a, b, x, y,
             (a > 0 ? x / a : 0), (b > 0 ? y / b : 0),
             (c ~ /same/ ? "every group reused" : c ~ /^100000/ ? "target at most 0.15" : "target at most 0.5")
    }
    printf "load average at the end: %s\n", load
  }' "$inc_results"
