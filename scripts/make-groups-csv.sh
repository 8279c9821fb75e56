#!/usr/bin/env bash
# Writes a CSV data set of split groups to standard output, for trying and
# measuring split-run builds: GROUPS groups (split field "grp" plus a
# two-level "part"), ROWS records per group, INPUTS continuous inputs x1..xN,
# a categorical input "kind", a continuous target "y" and a binary target
# "flag" (a logistic relation to the inputs), from a fixed seed.
#
#   scripts/make-groups-csv.sh GROUPS ROWS INPUTS [SEED] > data.csv
set -euo pipefail
groups="${1:?usage: make-groups-csv.sh GROUPS ROWS INPUTS [SEED]}"
rows="${2:?usage: make-groups-csv.sh GROUPS ROWS INPUTS [SEED]}"
inputs="${3:?usage: make-groups-csv.sh GROUPS ROWS INPUTS [SEED]}"
seed="${4:-17}"
awk -v groups="$groups" -v rows="$rows" -v inputs="$inputs" -v seed="$seed" 'BEGIN {
  srand(seed)
  OFS = ","
  header = "grp,part"
  for (j = 1; j <= inputs; j++) header = header ",x" j
  print header, "kind", "y", "flag"
  split("red green blue", kinds, " ")
  for (g = 1; g <= groups; g++) {
    for (r = 1; r <= rows; r++) {
      line = sprintf("g%05d,%s", g, (r % 2 ? "a" : "b"))
      eta = 0.1 * (g % 7) - 0.2
      for (j = 1; j <= inputs; j++) {
        x = sprintf("%.4f", rand() * 2 - 1)
        eta += x * ((j % 5) - 2) * 0.3
        line = line "," x
      }
      k = kinds[1 + int(rand() * 3)]
      noise = rand() + rand() + rand() - 1.5
      y = sprintf("%.4f", 10 + 3 * eta + noise)
      p = 1 / (1 + exp(-eta))
      flag = rand() < p ? "yes" : "no"
      print line, k, y, flag
    }
  }
}'
