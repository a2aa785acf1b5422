#!/usr/bin/env bash
# The output dialects and the per-entry options against the plain merge, side by side in one
# run, every run writing a plain merged log to a file:
#
#   --output-format=json and combined   vs  --output-format=ncsa
#   --dedupe, --anonymize-ip=2, --anonymize-ip=hash, --client=xff   vs  the same merge without
#
#   bench/output_dialect_bench.sh [files] [lines] [runs]   (default 4 files x 250,000 lines, 5 runs)
#
# Times are hyperfine's medians; each ratio is the variant's median over the plain NCSA
# merge's (goals: JSON no slower than NCSA, each option at most 1.10). Every client of the
# corpus is drawn at random, so --anonymize-ip=hash finds no visitor's earlier request to
# reuse: its worst case. On a busy machine the wall times scatter; count instructions with
#   valgrind --tool=callgrind build/release/stitcher <the same arguments>
# for figures that hold.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-4}
lines=${2:-250000}
runs=${3:-5}

source bench/setup.sh
bench_setup "hyperfine python3"
python3 bench/make_corpus.py "$work/plain" --files "$files" --lines "$lines" >/dev/null
head -c 32 /dev/urandom >"$work/ip.key"
cat "$work"/plain/* >/dev/null  # into the page cache

echo "Corpus: $files files x $lines lines, $(du -sm "$work/plain" | cut -f1) MB plain;" \
  "$(nproc) cores; $runs runs each"
cd "$work/plain"
run="$stitcher --quiet -Plain --output=../merged.log"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json ../times.json \
  -n ncsa "$run --output-format=ncsa access*.log" \
  -n json "$run --output-format=json access*.log" \
  -n combined "$run --output-format=combined access*.log" \
  -n dedupe "$run --output-format=ncsa --dedupe access*.log" \
  -n anonymize-2 "$run --output-format=ncsa --anonymize-ip=2 access*.log" \
  -n anonymize-hash "$run --output-format=ncsa --anonymize-ip=hash --anonymize-key=../ip.key access*.log" \
  -n client-xff "$run --output-format=ncsa --client=xff access*.log"

echo
python3 - ../times.json <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
median = {r["command"]: r["median"] for r in results}
cpu = {r["command"]: r["user"] + r["system"] for r in results}
print("Median times and ratios to the plain NCSA merge (and of the mean CPU time, user and")
print("system, which a busy machine disturbs less):")
for name in ["json", "combined", "dedupe", "anonymize-2", "anonymize-hash", "client-xff"]:
    print(f"{name:15} {median[name]:7.2f} s / ncsa {median['ncsa']:7.2f} s = "
          f"{median[name] / median['ncsa']:.3f}   CPU {cpu[name] / cpu['ncsa']:.3f}")
PY
