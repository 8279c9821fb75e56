#!/usr/bin/env bash
# Scaling of split-run build over MPI ranks: one data set of groups with a
# heavy per-group model (logistic on INPUTS continuous inputs, default 20,
# and a categorical one), built
# with --threads 1 and with mpirun -np 1, 2 and 4 (one worker thread per
# rank; -np N has N-1 worker ranks), each output checked byte for byte
# against the one-thread build. Prints wall seconds and each run's speed-up
# over -np 1. Ranks beyond the cores are oversubscribed (said in the output).
#
#   scripts/bench-mpi.sh [GROUPS] [ROWS_PER_GROUP] [INPUTS] [BUILD_DIR]
set -euo pipefail
groups="${1:-60}"
rows="${2:-4000}"
inputs="${3:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
split_run="${4:-$root/build/default}/platform/cli/split-run"
[ -x "$split_run" ] || { echo "build split-run first ($split_run)" >&2; exit 1; }
command -v mpirun > /dev/null || { echo "mpirun not found (apt-get install openmpi-bin libopenmpi-dev)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

"$root/scripts/make-groups-csv.sh" "$groups" "$rows" "$inputs" > data.csv
args=(build --data data.csv --split grp,part --target flag --model logistic
      --inputs "$(seq -s, -f 'x%g' 1 "$inputs"),kind")
launch=(mpirun --oversubscribe)
[ "$(id -u)" -eq 0 ] && launch+=(--allow-run-as-root)
cores="$(nproc)"

seconds() {  # command... ; prints its wall time in seconds
  local start end
  start="$(date +%s.%N)"
  "$@" > /dev/null 2>&1
  end="$(date +%s.%N)"
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "data: $groups x 2 groups of $((rows / 2)) records, logistic on $inputs + 1 inputs; $cores cores"
t_threads="$(seconds "$split_run" "${args[@]}" --threads 1 --out out-threads)"
printf '%-22s %8.2f s\n' "--threads 1" "$t_threads"
t_cores="$(seconds "$split_run" "${args[@]}" --threads "$cores" --out out-cores)"
printf '%-22s %8.2f s  (one process, every core)\n' "--threads $cores" "$t_cores"
base=""
for np in 1 2 4; do
  t="$(seconds "${launch[@]}" -np "$np" "$split_run" "${args[@]}" --threads 1 --engine mpi --out "out-$np")"
  diff -r out-threads "out-$np" > /dev/null || { echo "-np $np: output differs from --threads 1" >&2; exit 1; }
  [ -z "$base" ] && base="$t"
  note=""
  [ "$np" -gt "$cores" ] && note=" (oversubscribed: $np processes on $cores cores)"
  printf '%-22s %8.2f s  speed-up over -np 1: %.2f%s\n' "mpirun -np $np" "$t" "$(awk -v a="$base" -v b="$t" 'BEGIN { print a / b }')" "$note"
done
