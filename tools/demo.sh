#!/usr/bin/env bash
# The demo: installs what is missing, builds the Windows tree, and runs Kestrune end to end inside
# a private network namespace (loopback only): the LV1 stand-in loads the real Kestrune.dll, which
# loads the signed console module from its modules folder, which talks to a simulated desk on
# 127.0.0.1. It moves gains and 48 V at LV1 and at the desk and prints what each side saw.
# Exits 0 when every step was seen. Without --x32 it is the WING run (Fellbrook against the WING
# simulator).
#   tools/demo.sh [--x32] [--resync-desk] [--verbose]
#     --x32          the X32/M32 run (Brannock against the X32 simulator)
#     --resync-desk  resync=desk: when the desk drops and returns, LV1 takes the desk's values
#     --verbose      the module's whole log, not only the lines that matter
# After the plug-in side, the WING run starts the tray program beside it in a virtual display and
# saves a screenshot of its live dashboard into build/windows/demo-out/, printing its path.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KS_JOBS:-$(nproc)}

"$root/tools/setup.sh" || { echo "demo: setup failed"; exit 2; }

echo "demo: building the Windows binaries the demo runs (a while the first time)"
cmake --preset windows >/dev/null || { echo "demo: cmake failed"; exit 2; }
if ! grep -q 'kestrune-demo' build/windows/build.ninja; then
  echo "demo: this tree cannot run the demo (the loader's module manager or the console module is missing)"
  exit 2
fi
cmake --build --preset windows -j "$jobs" --target kestrune-demo tray-demo-shot || { echo "demo: build failed"; exit 2; }

# A prefix of its own: a test run elsewhere never shares its Wine server (and so its network).
prefix=$root/build/windows/demo-prefix
"$root/tools/wine-prefix.sh" "$prefix"

echo "demo: running inside a private network namespace"
echo
KS_WINEPREFIX=$prefix "$root/tools/netns-run" bash -c '
  export WINEPREFIX=$KS_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  wineserver -p
  wine "$0" "$@" </dev/null
  rc=$?
  wineserver -k 2>/dev/null
  exit $rc
' "$root/build/windows/tests/kestrune-demo.exe" "$@"
rc=$?

# The tray program beside the plug-in side (the WING run only): its live dashboard as a PNG.
case " $* " in *" --x32 "*) exit $rc ;; esac
out=$root/build/windows/demo-out
mkdir -p "$out"
echo
echo "demo: the tray program beside the plug-in side, in a virtual display"
KS_DESKTOP_PREFIX=$root/build/windows/demo-desktop-prefix "$root/tools/netns-run" \
  "$root/tools/wine-desktop-run" "$root/build/windows/tray/app/tray-demo-shot.exe" "Z:$out/dashboard.png" </dev/null
shot=$?
[ $shot -eq 0 ] && echo "demo: screenshot $out/dashboard.png"
[ $rc -ne 0 ] && exit $rc
exit $shot
