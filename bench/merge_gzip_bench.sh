#!/usr/bin/env bash
# Times merging gzip-compressed logs: stitcher -Plain (NCSA output, so both tools write the
# same dialect) against zmergelog (Debian's mergelog) on the same files, with zcat over the
# files as the floor (decompression alone). Prints the three times and stitcher/zmergelog.
#
# Usage: bench/merge_gzip_bench.sh [STITCHER_BINARY]   (default build/release/stitcher)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stitcher=${1:-$root/build/release/stitcher}
if [ ! -x "$stitcher" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j2 --target stitcher
fi
scripts/install-deps.sh mergelog bc python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_corpus.py "$work" --files 4 --lines 250000
gzip -6 "$work"/access*.log
printf 'output-format ncsa\n' >"$work/Stitcher.cfg"

# Wall-clock seconds of a command, its output thrown away.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

cd "$work"
files=(access000.log.gz access001.log.gz access002.log.gz access003.log.gz)
t_zcat=$(seconds zcat "${files[@]}")
t_stitcher=$(seconds "$stitcher" -Plain -Unix "${files[@]}")
test -s merged.log || { echo "stitcher wrote no merged.log" >&2; exit 1; }
t_zmergelog=$(seconds zmergelog "${files[@]}")

lines=$(wc -l <merged.log)
printf 'corpus: 4 files x 250000 lines, gzip -6; merged.log has %s lines\n' "$lines"
printf 'zcat      %6.2f s\n' "$t_zcat"
printf 'stitcher  %6.2f s\n' "$t_stitcher"
printf 'zmergelog %6.2f s\n' "$t_zmergelog"
printf 'stitcher / zmergelog = %.2f\n' "$(echo "$t_stitcher / $t_zmergelog" | bc -l)"
