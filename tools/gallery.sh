#!/usr/bin/env bash
# Renders every page and setup state of the dashboard with Kestrune.exe --render into a folder,
# and one contact sheet of them all, so a person can look at every page at once.
# Usage: tools/gallery.sh [--out DIR] [--scale N] [--width W]
#   DIR defaults to build/gallery; the sheet is DIR/contact-sheet.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/gallery
scale=1
width=0
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --width) width=$2; shift 2 ;;
    *) echo "gallery: unknown option $1" >&2; exit 2 ;;
  esac
done

"$root/tools/setup.sh" imagemagick || { echo "gallery: setup failed"; exit 2; }
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
[ -f "$root/build/windows/build.ninja" ] || cmake --preset windows -S "$root" >/dev/null
cmake --build "$root/build/windows" --target KestruneExe >/dev/null
exe=$root/build/windows/tray/app/Kestrune.exe

# The setup pages, the setup states in the preview's own order, then the dashboard pages.
pages="setup setupopen setupinstalled setupbusy"
pages+=" $(sed -n '/kSetupStates\[\] = {/,/};/p' "$root/tray/ui/model/preview_demo.h" |
           grep -o '"setup-[a-z0-9-]*"' | tr -d '"' | tr '\n' ' ')"
pages+=" channels detail detailR detailmid detailbus detailshared detailprot detailalarm link"
pages+=" linkdiff linkprot unlink remove reroute reroutepick empty"

rm -rf "$out"
mkdir -p "$out"
# One namespace and one Wine server for the whole run; nothing leaves the loopback.
PAGES=$pages OUT=$out EXE=$exe SCALE=$scale WIDTH=$width \
  "$root/tools/netns-run" bash -c '
    drawn=0 skipped=""
    for p in $PAGES; do
      rc=0
      "'"$root"'/tools/wine-run" "$EXE" --render "Z:$OUT/$p.png" "$p" "$SCALE" "$WIDTH" 2>/dev/null || rc=$?
      case $rc in
        0) drawn=$((drawn + 1)) ;;
        2) skipped+=" $p" ;;  # a page this build does not draw yet
        *) echo "gallery: $p failed (exit $rc)" >&2; exit 1 ;;
      esac
    done
    echo "gallery: $drawn pages in $OUT"
    [ -z "$skipped" ] || echo "gallery: not drawn by this build:$skipped"
  '

# Thumbnails 300 wide, each with its page name above it, six to a row, on the page background.
cd "$out"
rm -rf .thumbs
mkdir .thumbs
files=()
for p in $pages; do
  [ -f "$p.png" ] || continue
  convert "$p.png" -resize 300x \( -size 300x24 -background '#0D1014' -fill '#E8EEF2' \
    -font DejaVu-Sans -pointsize 13 -gravity center "label:$p" \) +swap -append +set label \
    ".thumbs/$p.png"
  files+=(".thumbs/$p.png")
done
montage -background '#0D1014' -gravity North -geometry '+10+10' -tile 6x "${files[@]}" \
  -depth 8 contact-sheet.png
rm -rf .thumbs
echo "gallery: contact sheet $out/contact-sheet.png"
