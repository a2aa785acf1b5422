#!/usr/bin/env bash
# What ordering costs.
#
#   bench/sort_bench.sh [lines] [runs]     (default 6,500,000 lines, about 1 GB; 3 runs)
#
# 1. The sort window on logs already in order: 8 files of lines/8 lines merged with the
#    default window and with --sort-window=0, side by side (goal: at most 1.05). The corpus
#    starts again at the 1st of the month after 28 days, about 1.6 million lines: no file may
#    be longer, or it would not be in order (the two merged logs then differ, as they should).
# 2. --sort=full on one shuffled log of `lines` lines against GNU sort -S 512M of the same
#    lines by their time stamp, both on every core (goal: at most 2.0).
# Prints hyperfine's medians, the ratios and the peak memory of each command.
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:-6500000}
runs=${2:-3}
root=$(pwd)

source bench/setup.sh
bench_setup "hyperfine time python3 coreutils"

# The median of a command's runs, in seconds.
median() {
  local json="$work/timing.json"
  hyperfine --style none --runs "$runs" --export-json "$json" "$@" >/dev/null 2>&1
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(" ".join("%.3f" % x["median"] for x in r))' "$json"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

files=8
if ((lines / files > 1600000)); then
  echo "at most $((files * 1600000)) lines: the corpus's files would go back in time" >&2
  exit 2
fi
echo "== The sort window on logs in order: $files files x $((lines / files)) lines"
python3 bench/make_corpus.py "$work/ordered" --files "$files" --lines $((lines / files)) >/dev/null
cd "$work/ordered"
printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
logs=$(echo access*.log)
cat $logs >/dev/null
read -r with without < <(median "$stitcher -Plain -o with.log $logs" \
  "$stitcher -Plain --sort-window=0 -o without.log $logs")
cmp -s with.log without.log || echo "the two merged logs differ"
printf 'window 10m: %s s   window off: %s s   ratio %s (goal <= 1.05)\n' "$with" "$without" \
  "$(ratio "$with" "$without")"
printf 'peak memory: window %s KB, off %s KB\n' \
  "$(peak_kb "$stitcher" -Plain -o with.log $logs)" \
  "$(peak_kb "$stitcher" -Plain --sort-window=0 -o without.log $logs)"

echo "== --sort=full against GNU sort -S 512M: one shuffled log of $lines lines"
python3 "$root/bench/make_corpus.py" "$work/shuffled" --files 1 --lines "$lines" >/dev/null
cd "$work/shuffled"
printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
shuf --random-source=<(yes) access*.log > shuffled.log
rm access*.log
echo "input: $(du -m shuffled.log | cut -f1) MB"
cat shuffled.log >/dev/null
# The corpus's stamps share month and year and pad the day, so the fourth field orders them.
export LC_ALL=C TMPDIR="$work/shuffled"
read -r full gnu < <(median "$stitcher -Plain --sort=full -o full.log shuffled.log" \
  "sort -s -S 512M -k4,4 -o gnu.log shuffled.log")
cmp -s full.log gnu.log || echo "the two sorted logs differ"
printf 'stitcher --sort=full: %s s   sort -S 512M: %s s   ratio %s (goal <= 2.0)\n' "$full" \
  "$gnu" "$(ratio "$full" "$gnu")"
printf 'peak memory: stitcher %s KB, sort %s KB\n' \
  "$(peak_kb "$stitcher" -Plain --sort=full -o full.log shuffled.log)" \
  "$(peak_kb sort -s -S 512M -k4,4 -o gnu.log shuffled.log)"
