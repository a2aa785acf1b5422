#!/usr/bin/env bash
# Checks that every source matches .clang-format, then builds and runs the whole test suite
# twice: a normal build with warnings as errors, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer; then the threaded tests and the end-to-end cases under
# ThreadSanitizer. A format difference still lets the tests run, and fails the command at
# the end.
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

# The tsan presets build only the threaded tests' programs and the program itself, and run
# the threaded tests (DeflateSink, ReadAhead, ParseAhead) and the end-to-end case folders.
echo "=== tsan build (threaded tests)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "=== tsan tests"
ctest --preset tsan -j "$jobs"

if [ "$format_ok" != true ]; then
  echo "=== The tests passed, but the format check failed: scripts/check-format.sh names the files" >&2
  exit 1
fi
