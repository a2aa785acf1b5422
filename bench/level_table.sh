#!/usr/bin/env bash
# Measures the gzip level table: for each gzip level 1..9, the cheapest libdeflate level whose
# output in 2 MiB members is no larger than `gzip -<level>` of the same merged log, on both an
# NCSA and a WebSTAR merged log of the benchmark corpus.
#
#   bench/level_table.sh [files] [lines]     (default 4 files x 250,000 lines)
#
# Prints every measurement, then the table as Markdown (the README's and kMemberLevels' rows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-4}
lines=${2:-250000}

source bench/setup.sh
bench_setup "python3 gzip" level_table
python3 bench/make_corpus.py "$work/corpus" --files "$files" --lines "$lines" >/dev/null
cd "$work/corpus"
logs=$(ls access*.log)
for dialect in ncsa webstar; do
  printf 'output-format %s\nnewlines unix\n' "$dialect" >Stitcher.cfg
  "$stitcher" -Plain $logs >/dev/null
  mv merged.log "$work/$dialect.log"
done
cd "$work"

# gzip's sizes: "file level bytes seconds"
for dialect in ncsa webstar; do
  for level in 1 2 3 4 5 6 7 8 9; do
    start=$(date +%s.%N)
    bytes=$(gzip -"$level" -c "$dialect.log" | wc -c)
    end=$(date +%s.%N)
    echo "$dialect.log $level $bytes $(echo "$end - $start" | bc)"
  done
done >gzip.txt
"$root/build/release/level_table" ncsa.log webstar.log >deflate.txt

python3 - gzip.txt deflate.txt <<'EOF'
import sys
def read(path):
    table = {}
    for line in open(path):
        name, level, size, seconds = line.split()
        table[(name.split(".")[0], int(level))] = (int(size), float(seconds))
    return table
gz, lz = read(sys.argv[1]), read(sys.argv[2])
dialects = ["ncsa", "webstar"]
print("libdeflate in 2 MiB members (bytes, seconds on one thread):")
for (d, l), (size, sec) in sorted(lz.items()):
    print(f"  {d:8} level {l:2}: {size:>11,} bytes {sec:7.2f} s")
print()
print("| gzip level | gzip -N bytes (NCSA / WebSTAR) | libdeflate level | its bytes (NCSA / WebSTAR) | size vs gzip | time vs gzip |")
print("|---|---|---|---|---|---|")
for level in range(1, 10):
    chosen = next((m for m in range(0, 10)
                   if all(lz[(d, m)][0] <= gz[(d, level)][0] for d in dialects)), None)
    g = " / ".join(f"{gz[(d, level)][0]:,}" for d in dialects)
    if chosen is None:
        print(f"| {level} | {g} | none | | | |")
        continue
    z = " / ".join(f"{lz[(d, chosen)][0]:,}" for d in dialects)
    size = " / ".join(f"{lz[(d, chosen)][0] / gz[(d, level)][0]:.3f}" for d in dialects)
    time = " / ".join(f"{lz[(d, chosen)][1] / gz[(d, level)][1]:.2f}" for d in dialects)
    print(f"| {level} | {g} | {chosen} | {z} | {size} | {time} |")
EOF
