#!/bin/sh
# Builds the Debian package from a configured build directory (as scripts/package.sh does,
# with cpack) into a scratch directory and checks it with lintian: no error and no warning.
# Usage: tests/package_lintian.sh <build-directory>
set -eu
build=$1
if ! command -v lintian >/dev/null 2>&1; then
  echo "lintian is not installed: scripts/install-deps.sh installs it" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  exit 1
fi
set -- "$scratch"/stitcher_*.deb
[ -f "$1" ] || { echo "cpack made no package" >&2; exit 1; }
lintian --fail-on error,warning "$1" 2>&1 || {
  echo "lintian found problems in $(basename "$1")" >&2
  exit 1
}
