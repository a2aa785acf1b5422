#!/usr/bin/env bash
# Installs the analysers the real-client tests feed the merged log to (goaccess, AWStats) and
# python3, from Debian, when they are missing and this user may install packages. Exits 0
# when all are there afterwards, 1 otherwise (the tests then skip, saying why).
set -uo pipefail

have() { command -v goaccess >/dev/null && command -v python3 >/dev/null &&
         [ -x /usr/lib/cgi-bin/awstats.pl ]; }
have && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || { echo "not root and no password-less sudo" >&2; exit 1; }
  sudo="sudo -n"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -qq --no-install-recommends goaccess awstats python3 >/dev/null 2>&1 ||
  { $sudo apt-get update -qq >/dev/null 2>&1 &&
    $sudo apt-get install -y -qq --no-install-recommends goaccess awstats python3 >/dev/null 2>&1; }
have
