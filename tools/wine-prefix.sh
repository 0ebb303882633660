#!/usr/bin/env bash
# Creates the project's Wine prefix (once): no Mono or Gecko, and the dashboard's fonts mapped to DejaVu.
# Usage: tools/wine-prefix.sh <prefix folder>
set -euo pipefail
prefix=${1:?prefix folder}
[ -f "$prefix/.kestrune-ready" ] && exit 0

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1 || true
reg=$(mktemp --suffix=.reg)
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Segoe UI"="DejaVu Sans"
"Segoe UI Semibold"="DejaVu Sans"
"Consolas"="DejaVu Sans Mono"
REG
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
touch "$prefix/.kestrune-ready"
