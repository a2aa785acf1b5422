#!/usr/bin/env bash
# Installs the Debian packages the build needs, but only those that are missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

# clang-format-14 is the version the sources are formatted with (Debian 12's clang-format);
# scdoc builds the manual page; dpkg-dev (dpkg-shlibdeps) and file let CPack compute the
# .deb package's dependencies.
# lintian checks the built package (tests/package_lintian.sh).
# tzdata is the time-zone database the --timezone and --input-timezone zones are read from.
# goaccess, awstats and python3 read the merged log in the real-client tests.
# chromium renders the HTML run report in its test (headless); jq reads the JSON one back.
packages=(cmake g++ ninja-build pkg-config zlib1g-dev libbz2-dev libminizip-dev liblzma-dev
          libzstd-dev libdeflate-dev libisal-dev libsimdjson-dev libgtest-dev libgmock-dev libbenchmark-dev
          clang-format-14 scdoc dpkg-dev file tzdata lintian chromium jq goaccess
          awstats python3 "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
