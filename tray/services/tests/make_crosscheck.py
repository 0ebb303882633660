#!/usr/bin/env python3
"""Writes the Base64 and SHA-256 cross-check table: for every length 0..300 and for 1 MiB, the
length, hashlib's SHA-256 (OpenSSL) and the standard Base64 of the test pattern's first bytes.
Byte i of the pattern is ((i * 2654435761) >> 13) & 0xFF."""
import base64
import hashlib
import sys


def pattern(n):
    return bytes(((i * 2654435761) >> 13) & 0xFF for i in range(n))


with open(sys.argv[1], "w") as f:
    for n in list(range(301)) + [1 << 20]:
        data = pattern(n)
        f.write("%d %s %s\n" % (n, hashlib.sha256(data).hexdigest(), base64.b64encode(data).decode()))
