#!/usr/bin/env bash
# Checks that every source matches .clang-format, then builds and runs the whole test suite
# twice: a normal build with warnings as errors, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer; then the threaded tests and the end-to-end cases under
# ThreadSanitizer. A format difference still lets the tests run, and fails the command at
# the end. Each step's time is printed when it ends, and all of them at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

times=()
step_started=$SECONDS
# Ends the step begun at the previous call (or at the start), naming it and its time.
step_done() {
  local took=$((SECONDS - step_started))
  times+=("$(printf '%4d:%02d  %s' $((took / 60)) $((took % 60)) "$1")")
  echo "=== $1: done in $((took / 60)):$(printf '%02d' $((took % 60)))"
  step_started=$SECONDS
}

echo "=== format"
format_ok=true
scripts/check-format.sh || format_ok=false
step_done "format"

jobs=$(nproc 2>/dev/null || echo 2)
# The tsan presets build only the threaded tests' programs and the program itself, and run
# the threaded tests (DeflateSink, ReadAhead, ParseAhead) and the end-to-end case folders.
for preset in release asan tsan; do
  echo "=== ${preset} build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step_done "${preset} build"
  echo "=== ${preset} tests"
  ctest --preset "$preset" -j "$jobs"
  step_done "${preset} tests"
done

echo "=== Times"
printf '%s\n' "${times[@]}"
echo "$(printf '%4d:%02d' $((SECONDS / 60)) $((SECONDS % 60)))  in all"

if [ "$format_ok" != true ]; then
  echo "=== The tests passed, but the format check failed: scripts/check-format.sh names the files" >&2
  exit 1
fi
