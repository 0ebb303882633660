// Cross-check against OpenSSL, an implementation no one here wrote: its signatures must verify,
// the same signatures with one bit changed must not, and SHA-512 and the scalar reduction must
// agree with it byte for byte.
#include "crypto/ed25519.h"
#include "crypto/ed25519_internal.h"
#include "crypto/sha512.h"

#include "crypto/tests/support/hex.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

namespace ks {
namespace {

struct OpensslKey {
  EVP_PKEY* key = nullptr;
  uint8_t pk[32] = {};

  explicit OpensslKey(const uint8_t seed[32]) {
    key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t n = 32;
    if (key == nullptr || EVP_PKEY_get_raw_public_key(key, pk, &n) != 1 || n != 32) {
      ADD_FAILURE() << "OpenSSL would not make an Ed25519 key";
    }
  }
  ~OpensslKey() { EVP_PKEY_free(key); }
  OpensslKey(const OpensslKey&) = delete;
  OpensslKey& operator=(const OpensslKey&) = delete;

  bool sign(const std::vector<uint8_t>& msg, uint8_t sig[64]) const {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t n = 64;
    bool ok = ctx != nullptr && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
              EVP_DigestSign(ctx, sig, &n, msg.data(), msg.size()) == 1 && n == 64;
    EVP_MD_CTX_free(ctx);
    return ok;
  }
};

// 1000 keys and messages from a fixed seed, so a failure can be replayed. The first lengths sit
// on the SHA-512 block edges of R | A | msg (64 bytes of prefix) and the 448/449 boundary.
TEST(OpensslCrossCheck, SignaturesVerifyAndFlippedBitsFail) {
  std::mt19937_64 rng(20261210);
  const size_t edge_lengths[] = {0, 1, 63, 64, 111, 112, 447, 448, 449, 511, 512, 513, 4096};
  int failures = 0;
  for (int n = 0; n < 1000 && failures < 10; ++n) {
    uint8_t seed[32];
    for (auto& b : seed) b = uint8_t(rng());
    OpensslKey key(seed);
    const size_t len = n < int(std::size(edge_lengths)) ? edge_lengths[n] : rng() % 2049;
    std::vector<uint8_t> msg(len);
    for (auto& b : msg) b = uint8_t(rng());
    uint8_t sig[64];
    ASSERT_TRUE(key.sign(msg, sig));

    const bool good = ed25519_verify(sig, msg.data(), msg.size(), key.pk);
    EXPECT_TRUE(good) << "message " << n << " length " << len << " sig " << test::to_hex(sig, 64)
                      << " key " << test::to_hex(key.pk, 32);
    failures += !good;

    if (len > 0) {
      auto bad = msg;
      size_t bit = rng() % (len * 8);
      bad[bit / 8] ^= uint8_t(1u << (bit % 8));
      EXPECT_FALSE(ed25519_verify(sig, bad.data(), bad.size(), key.pk)) << n << " message bit";
    }
    for (int half = 0; half < 2; ++half) {  // R, then S
      uint8_t bad[64];
      std::copy(sig, sig + 64, bad);
      size_t bit = half * 256 + rng() % 256;
      bad[bit / 8] ^= uint8_t(1u << (bit % 8));
      EXPECT_FALSE(ed25519_verify(bad, msg.data(), msg.size(), key.pk))
          << n << (half ? " S" : " R") << " bit " << bit;
    }
    uint8_t bad_pk[32];
    std::copy(key.pk, key.pk + 32, bad_pk);
    size_t bit = rng() % 256;
    bad_pk[bit / 8] ^= uint8_t(1u << (bit % 8));
    EXPECT_FALSE(ed25519_verify(sig, msg.data(), msg.size(), bad_pk)) << n << " key bit " << bit;
  }
}

TEST(OpensslCrossCheck, Sha512AgreesAtEveryLength) {
  std::mt19937_64 rng(7);
  std::vector<uint8_t> data(1 << 20);
  for (auto& b : data) b = uint8_t(rng());
  std::vector<size_t> lengths;
  for (size_t len = 0; len <= 1024; ++len) lengths.push_back(len);
  lengths.push_back(data.size());
  for (size_t len : lengths) {
    uint8_t ours[64], theirs[64];
    unsigned n = 0;
    sha512(data.data(), len, ours);
    ASSERT_EQ(EVP_Digest(data.data(), len, theirs, &n, EVP_sha512(), nullptr), 1);
    ASSERT_EQ(test::to_hex(ours, 64), test::to_hex(theirs, 64)) << "length " << len;
  }
}

// The reduction of a 64-byte digest mod L against OpenSSL's big numbers.
TEST(OpensslCrossCheck, ScalarReductionAgrees) {
  BIGNUM* l = nullptr;
  ASSERT_TRUE(BN_dec2bn(
      &l, "7237005577332262213973186563042994240857116359379907606001950938285454250989"));
  BIGNUM* x = BN_new();
  BIGNUM* r = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  std::mt19937_64 rng(99);
  for (int n = 0; n < 5000; ++n) {
    uint8_t in[64];
    for (auto& b : in) b = uint8_t(rng());
    if (n < 64) std::fill(in + n, in + 64, uint8_t(n & 1 ? 0xff : 0));  // short and saturated
    uint8_t ours[32], theirs[32];
    ed25519_detail::sc_reduce(ours, in);
    ASSERT_NE(BN_lebin2bn(in, 64, x), nullptr);
    ASSERT_EQ(BN_nnmod(r, x, l, ctx), 1);
    ASSERT_EQ(BN_bn2lebinpad(r, theirs, 32), 32);
    ASSERT_EQ(test::to_hex(ours, 32), test::to_hex(theirs, 32)) << test::to_hex(in, 64);
  }
  BN_CTX_free(ctx);
  BN_free(r);
  BN_free(x);
  BN_free(l);
}

}  // namespace
}  // namespace ks
