#!/usr/bin/env bash
# Checks that every source matches .clang-format, then builds and runs the whole test suite
# twice: a normal build with warnings as errors, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer. A format difference still lets the tests run, and fails the
# command at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "=== format"
format_ok=true
scripts/check-format.sh || format_ok=false

jobs=$(nproc 2>/dev/null || echo 2)
for preset in release asan; do
  echo "=== ${preset} build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset} tests"
  ctest --preset "$preset" -j "$jobs"
done

if [ "$format_ok" != true ]; then
  echo "=== The tests passed, but the format check failed: scripts/check-format.sh names the files" >&2
  exit 1
fi
