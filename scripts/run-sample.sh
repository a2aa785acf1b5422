#!/usr/bin/env bash
# Builds the program and merges the bundled sample logs with -Verbose.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target stitcher

work=$(mktemp -d)
cp examples/*.log examples/*.gz examples/*.bz2 examples/*.zip "$work"/ 2>/dev/null || true
cd "$work"
"$root/build/release/stitcher" -Verbose -Unix $(ls)
echo "Merged log written to $work/merged.gz; its first lines:"
gzip -dc merged.gz | head -n 12
