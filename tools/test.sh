#!/usr/bin/env bash
# The test command: installs what is missing, builds both trees, runs the native tier (sanitizers)
# and the Windows tier (Wine, inside a private network namespace), and ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/tools/setup.sh" || { echo "setup failed"; exit 2; }

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
build native || { echo "native build failed"; echo "0 passed, 1 failed"; exit 1; }
build windows || { echo "windows build failed"; echo "0 passed, 1 failed"; exit 1; }

run_ctest() {  # <build dir>
  rm -rf "$1/test-results" "$1/tmp" "$1/ctest-junit.xml"
  mkdir -p "$1/test-results" "$1/tmp"
  (cd "$1" && ctest -j "$jobs" --output-on-failure --output-junit ctest-junit.xml)
}

echo "== native tier"
run_ctest build/native

echo "== windows tier (Wine, private network namespace)"
prefix=$root/build/windows/wineprefix
"$root/tools/wine-prefix.sh" "$prefix"
export KS_WINEPREFIX=$prefix
# The namespace has loopback only, so nothing a test sends can leave the machine. The prefix's
# wineserver is started inside it, since Wine creates sockets in the server.
ns="unshare -n"; [ "$(id -u)" -eq 0 ] || ns="unshare -rn"
$ns bash -c '
  set -u
  ip link set lo up
  export WINEPREFIX=$KS_WINEPREFIX WINEDEBUG=-all
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  wineserver -p
  # Start Wine'"'"'s own services now, detached from ctest'"'"'s pipes: a service started by the first
  # test would hold that test'"'"'s output open and ctest would wait for it until the time-out.
  wine cmd /c exit </dev/null >/dev/null 2>&1
  '"$(declare -f run_ctest)"'
  jobs='"$jobs"'
  run_ctest build/windows
  wineserver -k 2>/dev/null
  true'

python3 "$root/tools/summarize.py" build/native build/windows
