#!/usr/bin/env bash
# Formats the C++ sources under the given folders (or files) with the tree's .clang-format.
#   tools/format.sh bridge desk loader     # rewrite in place
#   tools/format.sh --check bridge         # list what would change, exit 1 if anything would
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
[ $# -gt 0 ] || { echo "usage: tools/format.sh [--check] <folder or file>..."; exit 2; }
command -v clang-format >/dev/null || { echo "clang-format is not installed (apt-get install clang-format)"; exit 2; }
files=$(find "$@" -path '*/build' -prune -o -path '*/corpus' -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
[ -n "$files" ] || exit 0
if [ $check = 1 ]; then
  changed=0
  for f in $files; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      changed=1
    fi
  done
  exit $changed
fi
# shellcheck disable=SC2086
clang-format --style=file -i $files
