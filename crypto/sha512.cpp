// SHA-512 of FIPS 180-4.
#include "crypto/sha512.h"

#include <cstring>

namespace ks {
namespace {

// First 64 bits of the fractional parts of the cube roots of the first 80 primes.
constexpr uint64_t K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

constexpr uint64_t H0[8] = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179,
};

inline uint64_t rotr(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline uint64_t load_be64(const uint8_t* p) {
  return (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
         (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
         (uint64_t(p[6]) << 8) | uint64_t(p[7]);
}

inline void store_be64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = uint8_t(v);
    v >>= 8;
  }
}

inline uint64_t big_sigma0(uint64_t x) { return rotr(x, 28) ^ rotr(x, 34) ^ rotr(x, 39); }
inline uint64_t big_sigma1(uint64_t x) { return rotr(x, 14) ^ rotr(x, 18) ^ rotr(x, 41); }
inline uint64_t small_sigma0(uint64_t x) { return rotr(x, 1) ^ rotr(x, 8) ^ (x >> 7); }
inline uint64_t small_sigma1(uint64_t x) { return rotr(x, 19) ^ rotr(x, 61) ^ (x >> 6); }
inline uint64_t ch(uint64_t x, uint64_t y, uint64_t z) { return z ^ (x & (y ^ z)); }
inline uint64_t maj(uint64_t x, uint64_t y, uint64_t z) { return (x & y) | (z & (x | y)); }

}  // namespace

// The message schedule lives in a ring of 16 words: W[t] for t >= 16 is
//   s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16],
// which only ever needs the last 16. The working variables are not shuffled each round;
// instead the round macro is invoked with the names rotated, eight rounds per loop turn.
void sha512_block(uint64_t h[8], const uint8_t block[128]) {
  uint64_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = load_be64(block + 8 * i);

  uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];

#define KS_SHA512_ROUND(a, b, c, d, e, f, g, h, t, wt)           \
  do {                                                           \
    uint64_t t1 = h + big_sigma1(e) + ch(e, f, g) + K[t] + (wt); \
    uint64_t t2 = big_sigma0(a) + maj(a, b, c);                  \
    d += t1;                                                     \
    h = t1 + t2;                                                 \
  } while (0)

#define KS_SHA512_EXPAND(j) \
  (w[(j)&15] += small_sigma1(w[((j)-2) & 15]) + w[((j)-7) & 15] + small_sigma0(w[((j)-15) & 15]))

  for (int t = 0; t < 16; t += 8) {
    KS_SHA512_ROUND(a, b, c, d, e, f, g, hh, t + 0, w[t + 0]);
    KS_SHA512_ROUND(hh, a, b, c, d, e, f, g, t + 1, w[t + 1]);
    KS_SHA512_ROUND(g, hh, a, b, c, d, e, f, t + 2, w[t + 2]);
    KS_SHA512_ROUND(f, g, hh, a, b, c, d, e, t + 3, w[t + 3]);
    KS_SHA512_ROUND(e, f, g, hh, a, b, c, d, t + 4, w[t + 4]);
    KS_SHA512_ROUND(d, e, f, g, hh, a, b, c, t + 5, w[t + 5]);
    KS_SHA512_ROUND(c, d, e, f, g, hh, a, b, t + 6, w[t + 6]);
    KS_SHA512_ROUND(b, c, d, e, f, g, hh, a, t + 7, w[t + 7]);
  }
  for (int t = 16; t < 80; t += 8) {
    KS_SHA512_ROUND(a, b, c, d, e, f, g, hh, t + 0, KS_SHA512_EXPAND(t + 0));
    KS_SHA512_ROUND(hh, a, b, c, d, e, f, g, t + 1, KS_SHA512_EXPAND(t + 1));
    KS_SHA512_ROUND(g, hh, a, b, c, d, e, f, t + 2, KS_SHA512_EXPAND(t + 2));
    KS_SHA512_ROUND(f, g, hh, a, b, c, d, e, t + 3, KS_SHA512_EXPAND(t + 3));
    KS_SHA512_ROUND(e, f, g, hh, a, b, c, d, t + 4, KS_SHA512_EXPAND(t + 4));
    KS_SHA512_ROUND(d, e, f, g, hh, a, b, c, t + 5, KS_SHA512_EXPAND(t + 5));
    KS_SHA512_ROUND(c, d, e, f, g, hh, a, b, t + 6, KS_SHA512_EXPAND(t + 6));
    KS_SHA512_ROUND(b, c, d, e, f, g, hh, a, t + 7, KS_SHA512_EXPAND(t + 7));
  }
#undef KS_SHA512_EXPAND
#undef KS_SHA512_ROUND

  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += hh;
}

void sha512_init(Sha512& s) {
  std::memcpy(s.h, H0, sizeof s.h);
  s.fill = 0;
  s.total = 0;
}

void sha512_update(Sha512& s, const uint8_t* data, size_t len) {
  if (len == 0) return;
  s.total += len;
  if (s.fill != 0) {
    size_t take = 128 - s.fill;
    if (take > len) take = len;
    std::memcpy(s.buf + s.fill, data, take);
    s.fill += take;
    data += take;
    len -= take;
    if (s.fill < 128) return;
    sha512_block(s.h, s.buf);
    s.fill = 0;
  }
  for (; len >= 128; data += 128, len -= 128) sha512_block(s.h, data);
  if (len != 0) {
    std::memcpy(s.buf, data, len);
    s.fill = len;
  }
}

// Padding: 0x80, zeros, then the message length in bits as a 128-bit big-endian number that
// ends the last block. Sizes here fit in 64 bits, so the upper half holds only total's top bits.
void sha512_final(Sha512& s, uint8_t out[64]) {
  uint64_t bits_hi = s.total >> 61;
  uint64_t bits_lo = s.total << 3;
  s.buf[s.fill++] = 0x80;
  if (s.fill > 112) {
    std::memset(s.buf + s.fill, 0, 128 - s.fill);
    sha512_block(s.h, s.buf);
    s.fill = 0;
  }
  std::memset(s.buf + s.fill, 0, 112 - s.fill);
  store_be64(s.buf + 112, bits_hi);
  store_be64(s.buf + 120, bits_lo);
  sha512_block(s.h, s.buf);
  for (int i = 0; i < 8; ++i) store_be64(out + 8 * i, s.h[i]);
}

void sha512(const uint8_t* data, size_t len, uint8_t out[64]) {
  Sha512 s;
  sha512_init(s);
  sha512_update(s, data, len);
  sha512_final(s, out);
}

}  // namespace ks
