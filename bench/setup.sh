# Sourced by the benchmarks, from the project root: installs what a benchmark needs, builds
# the program in the release preset and makes a scratch directory that is removed at exit.
#
#   bench_setup "<Debian packages>" [more build targets]
#
# Sets `stitcher` (the built program) and `work` (the scratch directory).
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
