#!/usr/bin/env bash
# Peak memory of highly compressible inputs ("bombs") beside the memory budget: 8 zstd
# inputs whose frames ask for a 128 MiB window and 8 xz inputs made with xz -9 (a 64 MiB
# dictionary), each decoding to more than its window; then 200 inputs of each codec as the
# tools write them by default. Prints the peak resident memory of each merge and the budget
# it ran with, beside that of `zstd -d` / `xz -d` decoding one of the bombs.
#
#   bench/memory_bench.sh [MiB per bomb]     (default 160)
#   STITCHER_COMPARE=/path/to/stitcher bench/memory_bench.sh   (also measures that build)
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-160}

source bench/setup.sh
bench_setup "zstd xz-utils time"

cd "$work"
# Ten lines a second over the same hours in every bomb, so the merge takes from all of them
# in turn and every decoder's window fills at once.
awk -v bytes=$((mib << 20)) 'BEGIN {
  for (n = 0; size < bytes; ++n) {
    t = int(n / 10)
    line = sprintf("10.0.0.1 - - [05/Mar/2001:%02d:%02d:%02d -0500] \"GET /index.html HTTP/1.0\" 200 1043", int(t / 3600) % 24, int(t / 60) % 60, t % 60)
    print line
    size += length(line) + 1
  }
}' > bomb.log
# `yes` ends by SIGPIPE once head has enough: not a failure.
repeat() { yes "$1" | head "$2" || true; }
for i in 1 2 3 4 5 6 7 8; do
  # Streamed, so the frame asks for the whole 128 MiB window whatever its content.
  zstd -q -1 --long=27 -c < bomb.log > "zbomb$i.log.zst"
  [ "$i" = 1 ] && xz -9 -T1 -c < bomb.log > "xbomb$i.log.xz" || cp xbomb1.log.xz "xbomb$i.log.xz"
done
rm bomb.log
for i in $(seq 1 200); do
  printf '10.0.%d.%d - - [05/Mar/2001:10:%02d:00 -0500] "GET /p HTTP/1.0" 200 1\n' \
    $((i / 250)) $((i % 250)) $((i % 60)) > "small$i.log"
  repeat "$(cat "small$i.log")" -n20000 > "s$i.log"
  zstd -q -c "s$i.log" > "small$i.log.zst"
  xz -c "s$i.log" > "small$i.log.xz"
  rm "s$i.log" "small$i.log"
done

echo "Bombs: 8 x $mib MiB each, zstd --long=27 (128 MiB window) and xz -9 (64 MiB dictionary)"
printf '%-44s %10s\n' "run" "peak MiB"
report() {
  local label=$1
  shift
  printf '%-44s %10d\n' "$label" $(($(peak_kb "$@") / 1024))
}
report "zstd -d, one bomb" zstd -q -d --long=27 -c zbomb1.log.zst
report "xz -d, one bomb" xz -d -c xbomb1.log.xz
report "stitcher, 8 zstd bombs (64M budget)" "$stitcher" -Plain -Output out.log zbomb*.log.zst
report "stitcher, 8 xz bombs (64M budget)" "$stitcher" -Plain -Output out.log xbomb*.log.xz
report "stitcher, 8 zstd bombs --memory=2G (one pass)" "$stitcher" --memory=2G -Plain -Output out.log zbomb*.log.zst
report "stitcher, 8 xz bombs --memory=1G (one pass)" "$stitcher" --memory=1G -Plain -Output out.log xbomb*.log.xz
report "stitcher, 200 zstd inputs (64M budget)" "$stitcher" -Plain -Output out.log small*.log.zst
report "stitcher, 200 xz inputs (64M budget)" "$stitcher" -Plain -Output out.log small*.log.xz
# Another build beside this one (an earlier version), when named.
if [ -n "${STITCHER_COMPARE:-}" ]; then
  report "compared build, 8 zstd bombs" "$STITCHER_COMPARE" -Plain -Output out.log zbomb*.log.zst
  report "compared build, 8 xz bombs" "$STITCHER_COMPARE" -Plain -Output out.log xbomb*.log.xz
fi
