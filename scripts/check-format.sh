#!/usr/bin/env bash
# Fails, naming the files, when a C++ source differs from the project's .clang-format.
# The sources are formatted with clang-format 14 (Debian 12); other versions format some
# constructs differently, so another version is refused rather than trusted.
# Usage: scripts/check-format.sh    (CLANG_FORMAT=/path/to/clang-format-14 to choose one)
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${CLANG_FORMAT:-}
if [ -z "$tool" ]; then
  tool=clang-format
  command -v clang-format-14 >/dev/null 2>&1 && tool=clang-format-14
fi
command -v "$tool" >/dev/null 2>&1 || { echo "Format check: $tool not found (scripts/install-deps.sh installs it)" >&2; exit 1; }
version=$("$tool" --version)
if ! [[ $version =~ version\ 14\. ]]; then
  echo "Format check: needs clang-format 14, $tool is: $version" >&2
  echo "Set CLANG_FORMAT to a clang-format 14 binary." >&2
  exit 1
fi

# The files go to clang-format in batches, one batch per core at a time. A batch that fails
# is checked again file by file, so that exactly the files that differ (or that clang-format
# cannot read) are named.
jobs=$(nproc 2>/dev/null || echo 2)
differ=()
while IFS= read -r file; do
  [ -n "$file" ] && differ+=("$file")
done < <(find src tests fuzz bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 -r -n 20 -P "$jobs" sh -c '
    "$0" --dry-run --Werror "$@" >/dev/null 2>&1 && exit 0
    for file; do "$0" --dry-run --Werror "$file" >/dev/null 2>&1 || printf "%s\n" "$file"; done
  ' "$tool" | sort)

if [ ${#differ[@]} -gt 0 ]; then
  echo "These files differ from .clang-format (fix with: $tool -i FILE):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  echo "Lines whose exact text matters (internal-check conditions are reported verbatim) go" >&2
  echo "between bare '// clang-format off' and '// clang-format on' lines: clang-format 14" >&2
  echo "ignores a marker with more text after it." >&2
  exit 1
fi
echo "Format check: every source matches .clang-format"
