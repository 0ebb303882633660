// The field, point and scalar routines behind ed25519_verify, open to its tests.
#pragma once

#include <cstdint>

namespace ks::ed25519_detail {

// An element of GF(2^255 - 19): 16 signed limbs of 16 bits, limb i weighs 2^(16 i).
using Fe = int64_t[16];
// A point in extended coordinates X, Y, Z, T (x = X/Z, y = Y/Z, x y = T/Z).
using Point = Fe[4];

void fe_carry(Fe o);
void fe_mul(Fe o, const Fe a, const Fe b);
void fe_sq(Fe o, const Fe a);
void fe_invert(Fe o, const Fe z);
void fe_pow2523(Fe o, const Fe z);
void fe_pack(uint8_t out[32], const Fe a);
void fe_unpack(Fe o, const uint8_t in[32]);

void ge_add(Point p, const Point q);
void ge_scalarmult(Point p, Point q, const uint8_t s[32]);
void ge_scalarmult_base(Point p, const uint8_t s[32]);
void ge_pack(uint8_t out[32], const Point p);
bool ge_unpack_neg(Point r, const uint8_t pk[32]);

// 64 signed byte-limbs in, the value mod L out as 32 little-endian bytes. x is used up.
void sc_mod_l(uint8_t r[32], int64_t x[64]);
// A 64-byte little-endian number (a SHA-512 digest) mod L.
void sc_reduce(uint8_t r[32], const uint8_t digest[64]);

}  // namespace ks::ed25519_detail
