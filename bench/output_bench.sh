#!/usr/bin/env bash
# The default job against the shell pipelines a user would type instead, side by side in one
# run, every tool writing its output to a file:
#
#   plain inputs -> default merged.gz   vs  mergelog | gzip -9   and  mergelog | pigz -9 -p<cores>
#   gzip inputs  -> default merged.gz   vs  zmergelog | gzip -9
#
#   bench/output_bench.sh [files] [lines] [runs]     (default 4 files x 250,000 lines, 5 runs)
#
# Times are hyperfine's medians; the ratios are stitcher's median over the other's. The sizes
# compare merged.gz with `gzip -9` of the same (decompressed) content.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-4}
lines=${2:-250000}
runs=${3:-5}

source bench/setup.sh
bench_setup "mergelog pigz hyperfine python3 gzip"
cores=$(nproc)
python3 bench/make_corpus.py "$work/plain" --files "$files" --lines "$lines" >/dev/null
mkdir "$work/gz"
for f in "$work"/plain/access*.log; do gzip -6 -c "$f" >"$work/gz/$(basename "$f").gz"; done
cat "$work"/plain/* "$work"/gz/* >/dev/null  # into the page cache

echo "Corpus: $files files x $lines lines, $(du -sm "$work/plain" | cut -f1) MB plain;" \
  "$cores cores; $runs runs each"
cd "$work"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json times.json \
  -n stitcher-plain "cd plain && $stitcher access*.log >/dev/null" \
  -n mergelog-gzip "cd plain && mergelog access*.log | gzip -9 >../mergelog.gz" \
  -n mergelog-pigz "cd plain && mergelog access*.log | pigz -9 -p$cores >../mergelog-pigz.gz" \
  -n stitcher-gz "cd gz && $stitcher access*.log.gz >/dev/null" \
  -n zmergelog-gzip "cd gz && zmergelog access*.log.gz | gzip -9 >../zmergelog.gz"

# The same content through gzip -9, for the size promise.
gzip -dc plain/merged.gz | gzip -9 >content-gzip9.gz
echo
python3 - times.json <<EOF
import json, os, sys
median = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
def ratio(ours, theirs):
    print(f"{ours:15} {median[ours]:7.2f} s / {theirs:15} {median[theirs]:7.2f} s = "
          f"{median[ours] / median[theirs]:.3f}")
print("Median times and ratios:")
ratio("stitcher-plain", "mergelog-gzip")
ratio("stitcher-plain", "mergelog-pigz")
ratio("stitcher-gz", "zmergelog-gzip")
ours, gzip9 = os.path.getsize("plain/merged.gz"), os.path.getsize("content-gzip9.gz")
print(f"merged.gz {ours:,} bytes; gzip -9 of the same content {gzip9:,} bytes "
      f"({ours / gzip9:.3f}); mergelog | gzip -9: {os.path.getsize('mergelog.gz'):,} bytes")
EOF
