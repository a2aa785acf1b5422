#!/usr/bin/env bash
# The cost of real-time order: the plain NCSA merge of the benchmark corpus with
# --timezone=Europe/Berlin against the same merge without it (clock-time order).
#
#   bench/timezone_bench.sh [files] [lines] [runs]     (default 4 files x 250,000 lines, 5 runs)
#
# Each merge runs `runs` times from a warm page cache; the best cpu time of each is compared.
# The goal: with the zone set, at most 1.2 x the plain merge.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-4}
lines=${2:-250000}
runs=${3:-5}

source bench/setup.sh
bench_setup "time python3 tzdata"

# The best cpu seconds (user + system) of `runs` runs of a command, its output discarded.
best_cpu() {
  local best=""
  for _ in $(seq "$runs"); do
    local cpu
    cpu=$(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.2f", $1 + $2 }')
    if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$cpu; fi
  done
  echo "$best"
}

echo "Corpus: $files files x $lines lines"
python3 bench/make_corpus.py "$work/corpus" --files "$files" --lines "$lines"
cd "$work/corpus"
printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
logs=$(ls access*.log)
cat $logs >/dev/null

plain=$(best_cpu "$stitcher" -Plain --quiet $logs)
zoned=$(best_cpu "$stitcher" -Plain --quiet --timezone=Europe/Berlin $logs)
printf 'clock-time order:             %s s cpu\n' "$plain"
printf 'real-time, Europe/Berlin:     %s s cpu\n' "$zoned"
printf 'ratio real-time/clock-time:   %.2f (goal: at most 1.20)\n' \
  "$(awk -v a="$zoned" -v b="$plain" 'BEGIN { print a / b }')"
