#!/usr/bin/env bash
# The test command: installs what is missing, builds the trees, runs the native tier (address and
# undefined-behaviour sanitizers), the native tier again under ThreadSanitizer, and the Windows
# tier (Wine), all inside a private network namespace, and ends with "N passed, N failed" (the
# tiers added up). Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KS_JOBS:-$(nproc)}

"$root/tools/setup.sh" || { echo "setup failed"; exit 2; }

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
build native || { echo "native build failed"; echo "0 passed, 1 failed"; exit 1; }
build native-tsan || { echo "native ThreadSanitizer build failed"; echo "0 passed, 1 failed"; exit 1; }
build windows || { echo "windows build failed"; echo "0 passed, 1 failed"; exit 1; }
"$root/tools/wine-prefix.sh" "$root/build/windows/wineprefix"

KS_JOBS=$jobs "$root/tools/netns-run" "$root/tools/run-tiers.sh"
python3 "$root/tools/summarize.py" build/native build/native-tsan build/windows
