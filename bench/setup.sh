# Sourced by the benchmarks, from the project root: installs what a benchmark needs, builds
# the program in the release preset and makes a scratch directory that is removed at exit.
#
#   bench_setup "<Debian packages>" [more build targets]
#
# Sets `stitcher` (the built program) and `work` (the scratch directory). Also defines
# peak_kb, the peak resident memory in KB of a command.
bench_setup() {
  local packages=$1
  shift
  # shellcheck disable=SC2086  # a list of package names
  scripts/install-deps.sh $packages
  cmake --preset release >/dev/null
  cmake --build --preset release -j2 --target stitcher "$@" >/dev/null
  stitcher="$(pwd)/build/release/stitcher"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}
