#!/usr/bin/env bash
# Throw-away certificates for the update server's stand-in:
#   make_certs.sh <folder>
# ca.pem/ca.der: the CA a test puts into the Wine prefix's LocalMachine\Root store;
# server.pem/server.key: for DNS:localhost, signed by it; untrusted.pem/untrusted.key: for
# DNS:localhost too, signed by a second CA that no store holds. Made once per folder.
set -euo pipefail
d=${1:?folder}
[ -f "$d/untrusted.key" ] && exit 0
mkdir -p "$d"
cd "$d"
leaf() { # <ca name> <leaf name>
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Kestrune test $1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$1.key" -out "$1.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$2.key" -out "$2.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$2.ext"
  openssl x509 -req -in "$2.csr" -CA "$1.pem" -CAkey "$1.key" -CAcreateserial -days 3650 \
    -extfile "$2.ext" -out "$2.pem" 2>/dev/null
  rm -f "$2.csr" "$2.ext"
}
leaf ca server
leaf other-ca untrusted
openssl x509 -in ca.pem -outform DER -out ca.der
