#!/usr/bin/env bash
# Checks that every source matches .clang-format, then builds and runs the whole test suite
# twice: a normal build with warnings as errors, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "=== format"
scripts/check-format.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in release asan; do
  echo "=== ${preset} build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset} tests"
  ctest --preset "$preset" -j "$jobs"
done
