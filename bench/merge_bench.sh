#!/usr/bin/env bash
# Merge speed and memory: stitcher against Debian's mergelog on the same corpus.
#
#   bench/merge_bench.sh [files] [lines]     (default 4 files x 250,000 lines)
#
# Generates the corpus with bench/make_corpus.py in a temporary directory, merges it with
# `stitcher -Plain` (output-format ncsa) and with `mergelog` in the same run, prints both
# times and their ratio, the cost of the progress line (drawn against not drawn), then the
# peak memory of stitcher for 2 and for 200 inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-4}
lines=${2:-250000}

source bench/setup.sh
bench_setup "mergelog time python3"

# "elapsed cpu" seconds of a command (cpu = user + system), its output discarded.
timing() {
  /usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%s %.2f\n", $1, $2 + $3 }'
}

echo "Corpus: $files files x $lines lines"
python3 bench/make_corpus.py "$work/corpus" --files "$files" --lines "$lines"
cd "$work/corpus"
printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
logs=$(ls access*.log)

# Warm the page cache so both tools read from memory.
cat $logs >/dev/null
read -r e_stitcher c_stitcher < <(timing "$stitcher" -Plain $logs)
read -r e_mergelog c_mergelog < <(timing sh -c 'mergelog "$@" > mergelog.out' mergelog $logs)
printf 'stitcher -Plain: %s s elapsed, %s s cpu\n' "$e_stitcher" "$c_stitcher"
printf 'mergelog:        %s s elapsed, %s s cpu\n' "$e_mergelog" "$c_mergelog"
printf 'ratio stitcher/mergelog: %.2f elapsed, %.2f cpu\n' \
  "$(awk -v a="$e_stitcher" -v b="$e_mergelog" 'BEGIN { print a / b }')" \
  "$(awk -v a="$c_stitcher" -v b="$c_mergelog" 'BEGIN { print (b > 0) ? a / b : 0 }')"
echo "merged lines: stitcher $(wc -l < merged.log), mergelog $(wc -l < mergelog.out)"

# The progress line's cost: the same merge drawing it (forced; standard error discarded)
# against not drawing it. Its figures are gathered once per 256 entries and drawn at most
# ten times a second, so the ratio should stay at 1.00 within the noise.
timing_all() {
  /usr/bin/time -f '%e %U %S' -o "$work/time.out" "$@" >/dev/null 2>&1
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time.out"
}
read -r e_off c_off < <(timing_all "$stitcher" -Plain --no-progress $logs)
read -r e_on c_on < <(timing_all "$stitcher" -Plain --progress $logs)
printf 'progress line: %s s elapsed drawn, %s s not; ratio %.2f elapsed, %.2f cpu\n' \
  "$e_on" "$e_off" "$(awk -v a="$e_on" -v b="$e_off" 'BEGIN { print (b > 0) ? a / b : 0 }')" \
  "$(awk -v a="$c_on" -v b="$c_off" 'BEGIN { print (b > 0) ? a / b : 0 }')"

# Peak memory for 2 and for 200 inputs (small files, so the per-input cost shows).
for count in 2 200; do
  dir="$work/mem$count"
  python3 "$root/bench/make_corpus.py" "$dir" --files "$count" --lines 2000 >/dev/null
  cd "$dir"
  printf 'output-format ncsa\nnewlines unix\n' > Stitcher.cfg
  echo "peak memory, $count inputs: $(peak_kb "$stitcher" -Plain $(ls access*.log)) KB"
done
