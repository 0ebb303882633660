#!/usr/bin/env bash
# Runs both test tiers; called by tools/test.sh inside a private network namespace.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KS_JOBS:-$(nproc)}

run_ctest() {  # <build dir> [more ctest arguments]
  local dir=$1
  shift
  rm -rf "$dir/test-results" "$dir/tmp" "$dir/ctest-junit.xml"
  mkdir -p "$dir/test-results" "$dir/tmp"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --output-junit ctest-junit.xml "$@")
}

echo "== native tier"
run_ctest build/native

# The same tests under ThreadSanitizer, in a random order (executables and the cases inside
# each): the races only it sees, and any test that leans on another one having run first. A
# failing order is printed with its seed ("Randomizing tests' orders with a seed of N").
echo "== native tier under ThreadSanitizer (shuffled)"
tsan_start=$(date +%s)
GTEST_SHUFFLE=1 TSAN_OPTIONS="second_deadlock_stack=1" run_ctest build/native-tsan --schedule-random
echo "== ThreadSanitizer tier took $(( $(date +%s) - tsan_start )) s"

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
