#!/usr/bin/env python3
"""Prints the derived test data of crypto/tests/ed25519_test.cpp, made with an independent
implementation (Python's cryptography package): a signature over a message longer than one
SHA-512 block pair, and public-key bytes that do not decode to a curve point."""
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey

P = 2**255 - 19
D = (-121665 * pow(121666, P - 2, P)) % P

# The key of RFC 8032's first test, over 1000 bytes of (i * 7 + 3) & 0xff.
key = Ed25519PrivateKey.from_private_bytes(bytes.fromhex(
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60"))
msg = bytes((i * 7 + 3) & 0xff for i in range(1000))
print("long message signature:", key.sign(msg).hex())

# The first y in 2, 3, ... for which x^2 = (y^2 - 1) / (d y^2 + 1) has no root.
for y in range(2, 100):
    x2 = (y * y - 1) * pow(D * y * y + 1, P - 2, P) % P
    if pow(x2, (P - 1) // 2, P) == P - 1:
        print("off-curve y:", y, "bytes:", y.to_bytes(32, "little").hex())
        break
