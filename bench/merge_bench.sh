#!/usr/bin/env bash
# Merge speed and memory: stitcher against Debian's mergelog on the same corpus.
#
#   bench/merge_bench.sh [files] [lines]     (default 4 files x 250,000 lines)
#
# Generates the corpus with bench/make_corpus.py in a temporary directory, merges it with
# `stitcher -Plain` (output-format ncsa) and with `mergelog` in the same run, prints both
# times and their ratio, then the peak memory of stitcher for 2 and for 200 inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-4}
lines=${2:-250000}

scripts/install-deps.sh mergelog time python3
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target stitcher >/dev/null
stitcher="$root/build/release/stitcher"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall-clock seconds of a command, its output discarded.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# Peak resident memory in KB of a command.
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}

echo "Corpus: $files files x $lines lines"
python3 bench/make_corpus.py "$work/corpus" --files "$files" --lines "$lines"
cd "$work/corpus"
printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
logs=$(ls access*.log)

# Warm the page cache so both tools read from memory.
cat $logs >/dev/null
t_stitcher=$(seconds "$stitcher" -Plain $logs)
t_mergelog=$(seconds sh -c "mergelog $logs > mergelog.out")
printf 'stitcher -Plain: %.2f s\nmergelog:        %.2f s\nratio stitcher/mergelog: %.2f\n' \
  "$t_stitcher" "$t_mergelog" "$(awk -v a="$t_stitcher" -v b="$t_mergelog" 'BEGIN { print a / b }')"
echo "merged lines: stitcher $(wc -l < merged.log), mergelog $(wc -l < mergelog.out)"

# Peak memory for 2 and for 200 inputs (small files, so the per-input cost shows).
for count in 2 200; do
  dir="$work/mem$count"
  python3 "$root/bench/make_corpus.py" "$dir" --files "$count" --lines 2000 >/dev/null
  cd "$dir"
  printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
  echo "peak memory, $count inputs: $(peak_kb "$stitcher" -Plain $(ls access*.log)) KB"
done
