#!/usr/bin/env bash
# Builds the Debian package stitcher_<version>_<arch>.deb in build/package: a release build
# without tests, stripped, with the manual page, the example configuration and the bash
# completion; dpkg-shlibdeps works out the dependencies on the runtime libraries.
# Usage: scripts/package.sh [output-directory]   (default: the current directory)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-.}")
"$root/scripts/install-deps.sh"

build="$root/build/package"
# Installing (as cpack does) needs only the program and its page, not the benchmarks.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$build" --target stitcher
(cd "$build" && cpack -G DEB)

mkdir -p "$out"
for deb in "$build"/stitcher_*.deb; do
  cp "$deb" "$out/"
  echo "Built $out/$(basename "$deb")"
done
