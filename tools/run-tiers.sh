#!/usr/bin/env bash
# Runs both test tiers; called by tools/test.sh inside a private network namespace.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KS_JOBS:-$(nproc)}

run_ctest() {  # <build dir>
  rm -rf "$1/test-results" "$1/tmp" "$1/ctest-junit.xml"
  mkdir -p "$1/test-results" "$1/tmp"
  (cd "$1" && ctest -j "$jobs" --output-on-failure --output-junit ctest-junit.xml)
}

echo "== native tier"
run_ctest build/native

echo "== windows tier (Wine)"
export KS_WINEPREFIX=$root/build/windows/wineprefix
export WINEPREFIX=$KS_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine creates sockets in its server, so the prefix's server must run inside this namespace.
wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
wineserver -p
# Start Wine's own services now, detached from ctest's pipes: a service started by the first
# test would hold that test's output open, and ctest would wait for it until the time-out.
wine cmd /c exit </dev/null >/dev/null 2>&1
run_ctest build/windows
wineserver -k 2>/dev/null
true
