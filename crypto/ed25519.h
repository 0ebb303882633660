// Ed25519 signature verification (pure Ed25519: no context, no prehash).
// There is no signing code: the system only ever checks signatures made elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

// sig is R (32 bytes) then S (32 bytes, little-endian scalar); pk is the 32-byte public key A.
// True when the key decodes to a curve point and [S]B - [h]A encodes to R byte for byte, with
// h = SHA-512(R | A | msg) mod L. Nothing else is checked: S is not required to be below L and
// small-order keys are not refused. No allocation, no global state.
bool ed25519_verify(const uint8_t sig[64], const uint8_t* msg, size_t len, const uint8_t pk[32]);

}  // namespace ks
