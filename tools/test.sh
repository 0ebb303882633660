#!/usr/bin/env bash
# The test command: installs what is missing, builds both trees, runs the native tier (sanitizers)
# and the Windows tier (Wine), both inside a private network namespace, and ends with
# "N passed, N failed" (both tiers added up). Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KS_JOBS:-$(nproc)}

"$root/tools/setup.sh" || { echo "setup failed"; exit 2; }

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
build native || { echo "native build failed"; echo "0 passed, 1 failed"; exit 1; }
build windows || { echo "windows build failed"; echo "0 passed, 1 failed"; exit 1; }
"$root/tools/wine-prefix.sh" "$root/build/windows/wineprefix"

KS_JOBS=$jobs "$root/tools/netns-run" "$root/tools/run-tiers.sh"
python3 "$root/tools/summarize.py" build/native build/windows
