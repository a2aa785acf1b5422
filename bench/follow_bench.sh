#!/usr/bin/env bash
# Following live logs: three figures.
#   1. Latency from an entry's write to its line on the follower's standard output, at
#      `rate` entries per second spread over 10 logs, for `seconds`: the 50th and 99th
#      percentile. Goal: at most the lateness (2 s) + 50 ms.
#   2. CPU used by an idle follower of 100 logs over `idle` seconds. Goal: at most 1 % of a
#      core.
#   3. Throughput of following (the catch-up of existing logs, --follow-until in the past)
#      against the batch merge of the same logs. Goal: at least half the batch merge's.
#
#   bench/follow_bench.sh [rate] [seconds] [idle] [files] [lines]
#                          (default 10000 entries/s, 10 s, 60 s idle, 4 files x 250,000 lines)
set -euo pipefail
cd "$(dirname "$0")/.."
rate=${1:-10000}
seconds=${2:-10}
idle=${3:-60}
files=${4:-4}
lines=${5:-250000}

source bench/setup.sh
bench_setup "time python3"

# ---- 1. Latency ----------------------------------------------------------------------------
mkdir -p "$work/live"
for i in $(seq 0 9); do : > "$work/live/web$i.log"; done
cat > "$work/latency.py" <<'EOF'
import os, subprocess, sys, threading, time
stitcher, directory, rate, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
logs = [os.path.join(directory, "web%d.log" % i) for i in range(10)]
follower = subprocess.Popen([stitcher, "--follow", "--timezone=UTC", "--output-format=ncsa",
                             "-p", "-o", "-", "--verbose"] + logs,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
# Wait for the follower's own word that it has caught up before writing.
for line in follower.stderr:
    if b"Caught up" in line:
        break
threading.Thread(target=lambda: follower.stderr.read(), daemon=True).start()
latencies = []
def read():
    for line in follower.stdout:
        now = time.time_ns()
        at = line.find(b"/t/")
        if at >= 0:
            latencies.append((now - int(line[at + 3:line.find(b" ", at)])) / 1e6)
reader = threading.Thread(target=read)
reader.start()
handles = [open(log, "a", buffering=1) for log in logs]
start = time.time()
written = 0
while time.time() - start < seconds:
    # Entries due by now, round-robin over the logs, each stamped with its write time.
    due = int((time.time() - start) * rate)
    while written < due:
        now_ns = time.time_ns()
        stamp = time.strftime("%d/%b/%Y:%H:%M:%S", time.gmtime(now_ns / 1e9))
        handles[written % 10].write('10.0.0.%d - - [%s +0000] "GET /t/%d HTTP/1.1" 200 512 "-" "bench"\n'
                                    % (written % 10, stamp, now_ns))
        written += 1
    time.sleep(0.001)
for h in handles:
    h.close()
time.sleep(3)  # the lateness and a margin: the last entries arrive
follower.terminate()
reader.join()
follower.wait()
latencies.sort()
n = len(latencies)
print("written %d, received %d (%.0f entries/s over 10 logs)" % (written, n, written / seconds))
if n:
    print("latency p50 %.1f ms, p99 %.1f ms, max %.1f ms (goal: p99 at most 2050 ms)"
          % (latencies[n // 2], latencies[min(n - 1, n * 99 // 100)], latencies[-1]))
EOF
echo "== Latency: $rate entries/s over 10 logs for $seconds s"
python3 "$work/latency.py" "$stitcher" "$work/live" "$rate" "$seconds"

# ---- 2. Idle CPU ------------------------------------------------------------------------------
mkdir -p "$work/idle"
for i in $(seq 0 99); do : > "$work/idle/web$i.log"; done
echo "== Idle: 100 logs for $idle s"
"$stitcher" --follow -p -o "$work/idle.out" --quiet "$work"/idle/web*.log &
pid=$!
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$idle"
after=$(ticks)
kill -TERM "$pid"
wait "$pid" || true
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$idle" \
  'BEGIN { printf "cpu %.2f s in %d s idle: %.3f %% of a core (goal: at most 1 %%)\n", t / hz, s, 100 * t / hz / s }'

# ---- 3. Throughput ------------------------------------------------------------------------------
echo "== Throughput: $files files x $lines lines, batch merge against follow's catch-up"
python3 bench/make_corpus.py "$work/corpus" --files "$files" --lines "$lines" >/dev/null
cd "$work/corpus"
logs=$(ls access*.log)
cat $logs >/dev/null
# The best wall and cpu seconds (user + system) of three runs: "wall cpu".
best_of_three() {
  local _run
  for _run in 1 2 3; do
    /usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -n 1
  done | awk 'NR == 1 || $1 < w { w = $1 } NR == 1 || $2 + $3 < c { c = $2 + $3 }
              END { printf "%.2f %.2f\n", w, c }'
}
# shellcheck disable=SC2086  # the list of logs
read -r batch_wall batch_cpu < <(best_of_three "$stitcher" -p --quiet --output-format=ncsa \
  -o batch.log $logs)
# Following appends: each run starts without the merged log of the one before.
# shellcheck disable=SC2016,SC2086  # $0 and $@ belong to the inner shell; the list of logs
read -r follow_wall follow_cpu < <(best_of_three sh -c 'rm -f follow.log; exec "$0" "$@"' \
  "$stitcher" --follow --follow-until=2000-01-01 -p --quiet --output-format=ncsa -o follow.log $logs)
cmp -s batch.log follow.log && same="the same merged log" || same="MERGED LOGS DIFFER"
printf 'batch %s s (%s s cpu), follow %s s (%s s cpu): follow at %.2f of the batch throughput\n' \
  "$batch_wall" "$batch_cpu" "$follow_wall" "$follow_cpu" \
  "$(awk -v b="$batch_wall" -v f="$follow_wall" 'BEGIN { print b / f }')"
printf '(goal: at least 0.50), %.2f per cpu second; %s\n' \
  "$(awk -v b="$batch_cpu" -v f="$follow_cpu" 'BEGIN { print b / f }')" "$same"
