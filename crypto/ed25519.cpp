// Ed25519 verification over edwards25519:  -x^2 + y^2 = 1 + d x^2 y^2  over GF(p), p = 2^255 - 19.
//
// Small and plain on purpose: no precomputed tables, no allocation, no global state. Every step
// that touches secret-looking data (the ladder's swaps, the final reductions, the compare) runs
// without branches on that data, although verification only ever sees public inputs.
#include "crypto/ed25519.h"

#include "crypto/ed25519_internal.h"
#include "crypto/sha512.h"

#include <cstring>

namespace ks {
namespace ed25519_detail {
namespace {

// Published curve constants in the limb form of Fe (limb i weighs 2^(16 i)).
// d = -121665 / 121666
constexpr Fe D = {0x78a3, 0x1359, 0x4dca, 0x75eb, 0xd8ab, 0x4141, 0x0a4d, 0x0070,
                  0xe898, 0x7779, 0x4079, 0x8cc7, 0xfe73, 0x2b6f, 0x6cee, 0x5203};
constexpr Fe D2 = {0xf159, 0x26b2, 0x9b94, 0xebd6, 0xb156, 0x8283, 0x149a, 0x00e0,
                   0xd130, 0xeef3, 0x80f2, 0x198e, 0xfce7, 0x56df, 0xd9dc, 0x2406};
// sqrt(-1) = 2^((p - 1) / 4)
constexpr Fe SQRT_M1 = {0xa0b0, 0x4a0e, 0x1b27, 0xc4ee, 0xe478, 0xad2f, 0x1806, 0x2f43,
                        0xd7a7, 0x3dfb, 0x0099, 0x2b4d, 0xdf0b, 0x4fc1, 0x2480, 0x2b83};
// The base point B: y = 4/5, x the even root.
constexpr Fe BASE_X = {0xd51a, 0x8f25, 0x2d60, 0xc956, 0xa7b2, 0x9525, 0xc760, 0x692c,
                       0xdc5c, 0xfdd6, 0xe231, 0xc0a4, 0x53fe, 0xcd6e, 0x36d3, 0x2169};
constexpr Fe BASE_Y = {0x6658, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666,
                       0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666};

// The group order L = 2^252 + 27742317777372353535851937790883648493, little-endian bytes.
constexpr int64_t L[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                           0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                           0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

void fe_copy(Fe o, const Fe a) { std::memcpy(o, a, sizeof(Fe)); }

void fe_set_small(Fe o, int64_t v) {
  std::memset(o, 0, sizeof(Fe));
  o[0] = v;
}

void fe_add(Fe o, const Fe a, const Fe b) {
  for (int i = 0; i < 16; ++i) o[i] = a[i] + b[i];
}

void fe_sub(Fe o, const Fe a, const Fe b) {
  for (int i = 0; i < 16; ++i) o[i] = a[i] - b[i];
}

// Swaps a and b when bit is 1, leaves both when 0, with the same instructions either way.
void fe_cswap(Fe a, Fe b, int64_t bit) {
  const int64_t mask = -bit;
  for (int i = 0; i < 16; ++i) {
    int64_t t = mask & (a[i] ^ b[i]);
    a[i] ^= t;
    b[i] ^= t;
  }
}

}  // namespace

// One carry pass. Each limb is biased by +2^16 so that the arithmetic shift gives a carry that
// leaves the limb in [0, 2^16); the bias is taken back as -1 on the next limb. The carry out of
// limb 15 weighs 2^256, and 2^256 = 2 p + 38 = 38 (mod p), so it re-enters limb 0 times 38.
void fe_carry(Fe o) {
  for (int i = 0; i < 16; ++i) {
    o[i] += int64_t(1) << 16;
    const int64_t c = o[i] >> 16;
    if (i < 15)
      o[i + 1] += c - 1;
    else
      o[0] += 38 * (c - 1);
    o[i] -= c * 65536;  // not c << 16: c may be negative
  }
}

// Schoolbook product: 31 partial sums t[k] = sum a[i] b[j] over i + j = k. A sum at k >= 16
// weighs 2^(16 k) = 2^256 * 2^(16 (k - 16)) = 38 * 2^(16 (k - 16)), so it folds onto limb k - 16
// times 38. With carried inputs (|limb| < 2^17) every sum stays far below 2^63.
void fe_mul(Fe o, const Fe a, const Fe b) {
  int64_t t[31] = {};
  for (int i = 0; i < 16; ++i)
    for (int j = 0; j < 16; ++j) t[i + j] += a[i] * b[j];
  for (int k = 0; k < 15; ++k) t[k] += 38 * t[k + 16];
  std::memcpy(o, t, sizeof(Fe));
  fe_carry(o);
  fe_carry(o);
}

void fe_sq(Fe o, const Fe a) { fe_mul(o, a, a); }

// z^(p - 2) = z^-1 (Fermat). p - 2 = 2^255 - 21: bits 254..0 are all set except bits 4 and 2.
// Square-and-multiply from the top: c starts as z (bit 254), then one square per lower bit and
// one multiply by z for each set bit.
void fe_invert(Fe o, const Fe z) {
  Fe c;
  fe_copy(c, z);
  for (int bit = 253; bit >= 0; --bit) {
    fe_sq(c, c);
    if (bit != 2 && bit != 4) fe_mul(c, c, z);
  }
  fe_copy(o, c);
}

// z^((p - 5) / 8) = z^(2^252 - 3): bits 251..0 set except bit 1. Used for square roots.
void fe_pow2523(Fe o, const Fe z) {
  Fe c;
  fe_copy(c, z);
  for (int bit = 250; bit >= 0; --bit) {
    fe_sq(c, c);
    if (bit != 1) fe_mul(c, c, z);
  }
  fe_copy(o, c);
}

// Canonical 32-byte encoding (value in [0, p), little-endian). After three carry passes the
// value is below 2^256 = 2 p + 38, so at most two subtractions of p bring it into range; each is
// computed limb by limb with borrows and kept or dropped by the final borrow, without branches.
void fe_pack(uint8_t out[32], const Fe a) {
  Fe t, m;
  fe_copy(t, a);
  fe_carry(t);
  fe_carry(t);
  fe_carry(t);
  for (int pass = 0; pass < 2; ++pass) {
    m[0] = t[0] - 0xffed;
    for (int i = 1; i < 15; ++i) {
      m[i] = t[i] - 0xffff - ((m[i - 1] >> 16) & 1);
      m[i - 1] &= 0xffff;
    }
    m[15] = t[15] - 0x7fff - ((m[14] >> 16) & 1);
    const int64_t borrow = (m[15] >> 16) & 1;
    m[14] &= 0xffff;
    fe_cswap(t, m, 1 - borrow);  // no borrow: t - p >= 0, keep it
  }
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = uint8_t(t[i] & 0xff);
    out[2 * i + 1] = uint8_t(t[i] >> 8);
  }
}

// 255-bit little-endian value; the top bit of byte 31 is not part of it (it is x's sign in a
// point encoding).
void fe_unpack(Fe o, const uint8_t in[32]) {
  for (int i = 0; i < 16; ++i) o[i] = int64_t(in[2 * i]) + (int64_t(in[2 * i + 1]) << 8);
  o[15] &= 0x7fff;
}

namespace {

// Constant-time equality of two 32-byte strings: all differences ORed, one test at the end.
bool bytes_equal32(const uint8_t a[32], const uint8_t b[32]) {
  unsigned diff = 0;
  for (int i = 0; i < 32; ++i) diff |= unsigned(a[i] ^ b[i]);
  return diff == 0;
}

bool fe_equal(const Fe a, const Fe b) {
  uint8_t pa[32], pb[32];
  fe_pack(pa, a);
  fe_pack(pb, b);
  return bytes_equal32(pa, pb);
}

// The "sign" of x in encodings: the lowest bit of its canonical form.
int fe_parity(const Fe a) {
  uint8_t pa[32];
  fe_pack(pa, a);
  return pa[0] & 1;
}

void point_cswap(Point a, Point b, int64_t bit) {
  for (int k = 0; k < 4; ++k) fe_cswap(a[k], b[k], bit);
}

}  // namespace

// Addition in extended coordinates (X : Y : Z : T), x = X/Z, y = Y/Z, x y = T/Z:
//   A = (Y1 - X1)(Y2 - X2)   B = (Y1 + X1)(Y2 + X2)   C = 2d T1 T2   D = 2 Z1 Z2
//   E = B - A   F = D - C   G = D + C   H = B + A
//   X3 = E F    Y3 = G H    T3 = E H    Z3 = F G
// The formula is complete on this curve (a = -1 is a square, d is not), so it also doubles.
void ge_add(Point p, const Point q) {
  Fe a, b, c, d, e, f, g, h, t;
  fe_sub(a, p[1], p[0]);
  fe_sub(t, q[1], q[0]);
  fe_mul(a, a, t);
  fe_add(b, p[0], p[1]);
  fe_add(t, q[0], q[1]);
  fe_mul(b, b, t);
  fe_mul(c, p[3], q[3]);
  fe_mul(c, c, D2);
  fe_mul(d, p[2], q[2]);
  fe_add(d, d, d);
  fe_sub(e, b, a);
  fe_sub(f, d, c);
  fe_add(g, d, c);
  fe_add(h, b, a);
  fe_mul(p[0], e, f);
  fe_mul(p[1], g, h);
  fe_mul(p[2], f, g);
  fe_mul(p[3], e, h);
}

// [s]q by a ladder over all 256 bits of s, top bit first. Invariant: q - p = the input point.
// Per bit b: swap when b = 1, then q := q + p and p := 2 p, then swap back; so p becomes 2 p
// (b = 0) or 2 p + input (b = 1). The same additions run for every bit. q is overwritten.
void ge_scalarmult(Point p, Point q, const uint8_t s[32]) {
  fe_set_small(p[0], 0);
  fe_set_small(p[1], 1);
  fe_set_small(p[2], 1);
  fe_set_small(p[3], 0);
  for (int i = 255; i >= 0; --i) {
    const int64_t bit = (s[i / 8] >> (i & 7)) & 1;
    point_cswap(p, q, bit);
    ge_add(q, p);
    ge_add(p, p);
    point_cswap(p, q, bit);
  }
}

void ge_scalarmult_base(Point p, const uint8_t s[32]) {
  Point q;
  fe_copy(q[0], BASE_X);
  fe_copy(q[1], BASE_Y);
  fe_set_small(q[2], 1);
  fe_mul(q[3], BASE_X, BASE_Y);
  ge_scalarmult(p, q, s);
}

// Encoding: y = Y/Z in 255 bits, and the parity of x = X/Z in the top bit.
void ge_pack(uint8_t out[32], const Point p) {
  Fe zi, x, y;
  fe_invert(zi, p[2]);
  fe_mul(x, p[0], zi);
  fe_mul(y, p[1], zi);
  fe_pack(out, y);
  out[31] ^= uint8_t(fe_parity(x) << 7);
}

// Decodes a public key straight into -A.
// From the curve equation, x^2 = (y^2 - 1) / (d y^2 + 1) = u / v. With p = 5 (mod 8) a root is
//   x = u v^3 (u v^7)^((p - 5) / 8),
// which satisfies v x^2 = u or v x^2 = -u; in the second case x sqrt(-1) is the root, and when
// neither holds u / v is not a square and the bytes are not a point. Of the roots x and -x, the
// one whose parity differs from the encoded sign bit is -A's x.
bool ge_unpack_neg(Point r, const uint8_t pk[32]) {
  Fe u, v, v2, v4, t, chk;
  fe_set_small(r[2], 1);
  fe_unpack(r[1], pk);
  fe_sq(u, r[1]);
  fe_mul(v, u, D);
  fe_sub(u, u, r[2]);  // u = y^2 - 1
  fe_add(v, v, r[2]);  // v = d y^2 + 1

  fe_sq(v2, v);
  fe_sq(v4, v2);
  fe_mul(t, v4, v2);
  fe_mul(t, t, u);
  fe_mul(t, t, v);  // u v^7
  fe_pow2523(t, t);
  fe_mul(t, t, u);
  fe_mul(t, t, v);
  fe_mul(t, t, v2);  // u v^3 (u v^7)^((p-5)/8)
  fe_copy(r[0], t);

  fe_sq(chk, r[0]);
  fe_mul(chk, chk, v);
  if (!fe_equal(chk, u)) fe_mul(r[0], r[0], SQRT_M1);
  fe_sq(chk, r[0]);
  fe_mul(chk, chk, v);
  if (!fe_equal(chk, u)) return false;

  if (fe_parity(r[0]) == (pk[31] >> 7)) {
    Fe zero;
    fe_set_small(zero, 0);
    fe_sub(r[0], zero, r[0]);
  }
  fe_mul(r[3], r[0], r[1]);
  return true;
}

// x holds 64 signed byte-limbs (limb i weighs 2^(8 i)); writes x mod L as 32 bytes.
//
// L = 2^252 + delta with delta < 2^125 (L's bytes 0..15). Since 2^256 = 16 * 2^252 = -16 delta
// (mod L), a limb at i >= 32 can be dropped after subtracting 16 x[i] delta at position i - 32.
// Folding from the top down keeps every limb small (carries keep them in [-128, 127]); the
// carry window runs four limbs past delta's last byte (L's zero bytes 16..19) so nothing spills.
// What is left is below about 2^256; subtracting (x[31] >> 4) L removes the bits above 2^252,
// one more L is added back when that went negative, and a last carry pass gives bytes.
void sc_mod_l(uint8_t r[32], int64_t x[64]) {
  for (int i = 63; i >= 32; --i) {
    int64_t carry = 0;
    int j = i - 32;
    for (; j < i - 12; ++j) {
      x[j] += carry - 16 * x[i] * L[j - (i - 32)];
      carry = (x[j] + 128) >> 8;
      x[j] -= carry * 256;
    }
    x[j] += carry;
    x[i] = 0;
  }
  int64_t carry = 0;
  const int64_t top = x[31] >> 4;
  for (int j = 0; j < 32; ++j) {
    x[j] += carry - top * L[j];
    carry = x[j] >> 8;
    x[j] &= 255;
  }
  for (int j = 0; j < 32; ++j) x[j] -= carry * L[j];
  for (int i = 0; i < 32; ++i) {
    x[i + 1] += x[i] >> 8;
    r[i] = uint8_t(x[i] & 255);
  }
}

void sc_reduce(uint8_t r[32], const uint8_t digest[64]) {
  int64_t x[64];
  for (int i = 0; i < 64; ++i) x[i] = digest[i];
  sc_mod_l(r, x);
}

}  // namespace ed25519_detail

// The check of RFC 8032 (5.1.7) in the cofactorless form: with h = SHA-512(R | A | M) mod L,
// the signature is good when encode([S]B + [h](-A)) equals R.
bool ed25519_verify(const uint8_t sig[64], const uint8_t* msg, size_t len, const uint8_t pk[32]) {
  using namespace ed25519_detail;
  Point neg_a, q;
  if (!ge_unpack_neg(neg_a, pk)) return false;

  // R, A and the message are hashed in pieces rather than copied into one buffer.
  uint8_t digest[64], h[32];
  Sha512 hs;
  sha512_init(hs);
  sha512_update(hs, sig, 32);
  sha512_update(hs, pk, 32);
  sha512_update(hs, msg, len);
  sha512_final(hs, digest);
  sc_reduce(h, digest);

  Point p;
  ge_scalarmult(p, neg_a, h);
  ge_scalarmult_base(q, sig + 32);
  ge_add(p, q);

  uint8_t check[32];
  ge_pack(check, p);
  return bytes_equal32(check, sig);
}

}  // namespace ks
