#!/usr/bin/env bash
# Installs what the build and the tests need, once. Quick when everything is present.
# Packages named as arguments are installed as well (the gallery asks for imagemagick).
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in cmake ninja-build g++ googletest mingw-w64 g++-mingw-w64-x86-64-posix wine64 \
         openssl python3 iproute2 fonts-dejavu-core util-linux liblo-tools xvfb "$@"; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
