#!/usr/bin/env bash
# Every speed and memory goal of the program against the tools a user would run instead,
# side by side in one run, each writing its output to a file; prints each ratio beside its
# goal.
#
#   bench/goals.sh [files] [lines] [runs]     (default 4 files x 250,000 lines, 3 runs)
#
#   plain -> default merged.gz  vs  mergelog | gzip -9          goal <= 0.2
#   plain -> default merged.gz  vs  mergelog | pigz -9 -p<cores> goal <= 0.4
#   gzip  -> default merged.gz  vs  zmergelog | gzip -9         goal <= 0.2
#   gzip  -> plain              vs  zmergelog                   goal <= 0.25
#   plain -> plain              vs  mergelog                    goal <= 0.3
#   bzip2 -> plain              vs  bzcat of the inputs in turn goal <= 0.6
#   10,000 inputs               vs  2 inputs, same total lines  goal <= 1.5
#   combined -> combined        vs  cat of the inputs to a file goal <= 3
#   CPU per line, --threads=1, combined -> combined              goal <= 300 ns
#   CPU of the default threads  vs  CPU of --threads=1, each job goal <= 1.25
#   peak memory, 200 plain inputs                               goal <= 20 MB
#
# Times are hyperfine's medians. Smaller corpora (e.g. `bench/goals.sh 4 50000 2`) give a
# quick look; the figures in the README come from the defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-4}
lines=${2:-250000}
runs=${3:-3}

source bench/setup.sh
bench_setup "mergelog pigz hyperfine python3 gzip bzip2 time"
cores=$(nproc)
python3 bench/make_corpus.py "$work/plain" --files "$files" --lines "$lines" >/dev/null
mkdir "$work/gz" "$work/bz2"
for f in "$work"/plain/access*.log; do
  gzip -6 -c "$f" >"$work/gz/$(basename "$f").gz"
  bzip2 -9 -c "$f" >"$work/bz2/$(basename "$f").bz2"
done
# The many-inputs pair: the same total lines in 2 files and in 10,000.
total=$((files * lines))
python3 bench/make_corpus.py "$work/two" --files 2 --lines $((total / 2)) >/dev/null
python3 bench/make_corpus.py "$work/many" --files 10000 --lines $((total / 10000)) >/dev/null
for dir in plain gz bz2 two many; do
  printf 'newlines unix\n' >"$work/$dir/Stitcher.cfg"
done
cat "$work"/plain/* "$work"/gz/* "$work"/bz2/* >/dev/null  # into the page cache
ulimit -n "$(ulimit -Hn)"  # 10,000 inputs open at once

echo "Corpus: $files files x $lines lines, $(du -sm "$work/plain" | cut -f1) MB plain;" \
  "$cores cores; $runs runs each"
cd "$work"
plain_out="--compress=no --output-format=ncsa"
# The corpus is NCSA combined; NCSA output without the virtual host writes the same dialect.
same_out="--compress=no --output-format=ncsa --vhost=no"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json times.json \
  -n stitcher-plain-gz "cd plain && $stitcher access*.log >/dev/null" \
  -n mergelog-gzip "cd plain && mergelog access*.log | gzip -9 >../mergelog.gz" \
  -n mergelog-pigz "cd plain && mergelog access*.log | pigz -9 -p$cores >../mergelog-pigz.gz" \
  -n stitcher-gz-gz "cd gz && $stitcher access*.log.gz >/dev/null" \
  -n zmergelog-gzip "cd gz && zmergelog access*.log.gz | gzip -9 >../zmergelog.gz" \
  -n stitcher-gz-plain "cd gz && $stitcher $plain_out access*.log.gz >/dev/null" \
  -n zmergelog "cd gz && zmergelog access*.log.gz >../zmergelog.log" \
  -n stitcher-plain-plain "cd plain && $stitcher $plain_out access*.log >/dev/null" \
  -n mergelog "cd plain && mergelog access*.log >../mergelog.log" \
  -n stitcher-bz2-plain "cd bz2 && $stitcher $plain_out access*.log.bz2 >/dev/null" \
  -n bzcat "cd bz2 && for f in access*.log.bz2; do bzcat \$f; done >../bzcat.log" \
  -n stitcher-2-inputs "cd two && $stitcher $plain_out access*.log >/dev/null" \
  -n stitcher-10000-inputs "cd many && $stitcher $plain_out access*.log >/dev/null" \
  -n stitcher-same "cd plain && $stitcher $same_out access*.log >/dev/null" \
  -n cat "cd plain && cat access*.log >../cat.log" \
  -n t1-plain-gz "cd plain && $stitcher --threads=1 access*.log >/dev/null" \
  -n t1-gz-gz "cd gz && $stitcher --threads=1 access*.log.gz >/dev/null" \
  -n t1-gz-plain "cd gz && $stitcher --threads=1 $plain_out access*.log.gz >/dev/null" \
  -n t1-plain-plain "cd plain && $stitcher --threads=1 $plain_out access*.log >/dev/null" \
  -n t1-bz2-plain "cd bz2 && $stitcher --threads=1 $plain_out access*.log.bz2 >/dev/null" \
  -n t1-10000-inputs "cd many && $stitcher --threads=1 $plain_out access*.log >/dev/null" \
  -n t1-same "cd plain && $stitcher --threads=1 $same_out access*.log >/dev/null"

# Peak memory for 200 small plain inputs, and for 2 of the same size to show the per-input cost.
for count in 2 200; do
  python3 "$root/bench/make_corpus.py" "mem$count" --files "$count" --lines 2000 >/dev/null
  (cd "mem$count" && echo "$count $(peak_kb "$stitcher" --compress=no --quiet access*.log)") \
    >>memory.txt
done

gzip -dc plain/merged.gz | gzip -9 >content-gzip9.gz
echo
python3 - times.json memory.txt "$total" <<'EOF'
import json, os, sys
results = json.load(open(sys.argv[1]))["results"]
median = {r["command"]: r["median"] for r in results}
cpu = {r["command"]: r["user"] + r["system"] for r in results}  # mean CPU seconds of a run
lines = int(sys.argv[3])
rows = [
    ("plain -> merged.gz", "stitcher-plain-gz", "mergelog-gzip", 0.2),
    ("plain -> merged.gz", "stitcher-plain-gz", "mergelog-pigz", 0.4),
    ("gzip -> merged.gz", "stitcher-gz-gz", "zmergelog-gzip", 0.2),
    ("gzip -> plain", "stitcher-gz-plain", "zmergelog", 0.25),
    ("plain -> plain", "stitcher-plain-plain", "mergelog", 0.3),
    ("bzip2 -> plain", "stitcher-bz2-plain", "bzcat", 0.6),
    ("10,000 inputs", "stitcher-10000-inputs", "stitcher-2-inputs", 1.5),
    ("combined -> same", "stitcher-same", "cat", 3),
]
print(f"{'job':20} {'ours':>8} {'theirs':>8}  {'against':22} {'ratio':>6}  goal")
for job, ours, theirs, goal in rows:
    r = median[ours] / median[theirs]
    mark = "met" if r <= goal else "missed"
    print(f"{job:20} {median[ours]:7.2f}s {median[theirs]:7.2f}s  {theirs:22} {r:6.3f}  "
          f"<= {goal} {mark}")
ns = cpu["t1-same"] / lines * 1e9
print(f"CPU per line, --threads=1, combined -> same: {ns:.0f} ns (<= 300 {'met' if ns <= 300 else 'missed'})")
print(f"{'CPU, default threads / --threads=1':36} {'default':>8} {'one':>8} {'ratio':>6}  goal")
for job, default in [("plain -> merged.gz", "stitcher-plain-gz"), ("gzip -> merged.gz", "stitcher-gz-gz"),
                     ("gzip -> plain", "stitcher-gz-plain"), ("plain -> plain", "stitcher-plain-plain"),
                     ("bzip2 -> plain", "stitcher-bz2-plain"), ("10,000 inputs", "stitcher-10000-inputs"),
                     ("combined -> same", "stitcher-same")]:
    one = "t1-" + default.removeprefix("stitcher-")
    r = cpu[default] / cpu[one]
    print(f"{job:36} {cpu[default]:7.2f}s {cpu[one]:7.2f}s {r:6.3f}  <= 1.25 {'met' if r <= 1.25 else 'missed'}")
ours, gzip9 = os.path.getsize("plain/merged.gz"), os.path.getsize("content-gzip9.gz")
print(f"merged.gz {ours:,} bytes; gzip -9 of the same content {gzip9:,} bytes ({ours / gzip9:.3f})")
memory = dict(line.split() for line in open(sys.argv[2]))
mb = int(memory["200"]) / 1024
print(f"peak memory: 2 inputs {int(memory['2']) / 1024:.1f} MB, 200 inputs {mb:.1f} MB "
      f"(<= 20 MB {'met' if mb <= 20 else 'missed'}); "
      f"{(int(memory['200']) - int(memory['2'])) / 198:.0f} KB per further input")
EOF
