#include "crypto/ed25519.h"

#include "crypto/ed25519_internal.h"
#include "crypto/tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ks {
namespace {

using test::from_hex;

struct Vector {
  const char* name;
  const char* pk;
  const char* msg;
  const char* sig;
};

// RFC 8032, section 7.1 (TEST 1, 2, 3 and SHA(abc)).
const Vector kRfc[] = {
    {"TEST 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"TEST 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"TEST 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"TEST SHA(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

struct Decoded {
  std::vector<uint8_t> pk, msg, sig;
  explicit Decoded(const Vector& v)
      : pk(from_hex(v.pk)), msg(from_hex(v.msg)), sig(from_hex(v.sig)) {}
  bool verify() const { return ed25519_verify(sig.data(), msg.data(), msg.size(), pk.data()); }
};

TEST(Ed25519, RfcVectorsVerify) {
  for (const Vector& v : kRfc) EXPECT_TRUE(Decoded(v).verify()) << v.name;
}

// Every single-bit change of the signature (R or S) or the key, and a message that is one byte
// short, one byte longer or has one bit changed, must fail.
TEST(Ed25519, AnyChangedBitFails) {
  for (const Vector& v : kRfc) {
    const Decoded good(v);
    for (size_t bit = 0; bit < 512; ++bit) {
      Decoded d = good;
      d.sig[bit / 8] ^= uint8_t(1u << (bit % 8));
      EXPECT_FALSE(d.verify()) << v.name << " signature bit " << bit;
    }
    for (size_t bit = 0; bit < 256; ++bit) {
      Decoded d = good;
      d.pk[bit / 8] ^= uint8_t(1u << (bit % 8));
      EXPECT_FALSE(d.verify()) << v.name << " key bit " << bit;
    }
    for (size_t bit = 0; bit < good.msg.size() * 8; ++bit) {
      Decoded d = good;
      d.msg[bit / 8] ^= uint8_t(1u << (bit % 8));
      EXPECT_FALSE(d.verify()) << v.name << " message bit " << bit;
    }
    Decoded longer = good;
    longer.msg.push_back(0);
    EXPECT_FALSE(longer.verify()) << v.name << " one byte longer";
    if (!good.msg.empty()) {
      Decoded shorter = good;
      shorter.msg.pop_back();
      EXPECT_FALSE(shorter.verify()) << v.name << " one byte short";
    }
  }
}

// Made with an independent implementation (tools/crypto-test-vectors.py): the key of TEST 1
// over 1000 bytes of (i * 7 + 3) & 0xff, i.e. a message far past the short-message sizes.
TEST(Ed25519, LongMessageVerifies) {
  std::vector<uint8_t> msg(1000);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = uint8_t(i * 7 + 3);
  const auto pk = from_hex(kRfc[0].pk);
  auto sig = from_hex(
      "601900767b7db995d6cbbd8c41e6b2f5b2dac0e6390247d6868aa8e7efb7ba27"
      "546298e6a9e237fe9dd44b72f4743691e5ff242eb102ef1229ac86727e227402");
  EXPECT_TRUE(ed25519_verify(sig.data(), msg.data(), msg.size(), pk.data()));
  msg[999] ^= 0x80;
  EXPECT_FALSE(ed25519_verify(sig.data(), msg.data(), msg.size(), pk.data()));
}

// y = 2 gives x^2 = 3 / (4 d + 1), which is not a square: the key is not a point, with either
// sign bit, and no signature can make it one.
TEST(Ed25519, KeyOffTheCurveFails) {
  const Decoded good(kRfc[0]);
  for (const char* pk : {"0200000000000000000000000000000000000000000000000000000000000000",
                         "0200000000000000000000000000000000000000000000000000000000000080"}) {
    auto key = from_hex(pk);
    ed25519_detail::Point pt;
    EXPECT_FALSE(ed25519_detail::ge_unpack_neg(pt, key.data())) << pk;
    EXPECT_FALSE(ed25519_verify(good.sig.data(), good.msg.data(), 0, key.data())) << pk;
  }
}

// The verifier does not require S < L: S + L names the same scalar, so the signature still
// verifies. This malleability is accepted by design; the module files are what is signed, and
// a second valid signature over the same file gives nobody anything.
TEST(Ed25519, SPlusLIsAccepted) {
  const uint8_t l[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                         0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                         0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
  for (const Vector& v : kRfc) {
    Decoded d(v);
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
      unsigned sum = d.sig[32 + i] + l[i] + carry;
      d.sig[32 + i] = uint8_t(sum);
      carry = sum >> 8;
    }
    ASSERT_EQ(carry, 0u);
    EXPECT_NE(std::memcmp(d.sig.data(), Decoded(v).sig.data(), 64), 0);
    EXPECT_TRUE(d.verify()) << v.name;
  }
}

// Field encoding: values at and above p (possible in a key's 255 bits) come out reduced.
TEST(Ed25519Field, PackReducesToCanonical) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      // p -> 0
      {"edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       "0000000000000000000000000000000000000000000000000000000000000000"},
      // p + 5 -> 5
      {"f2ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       "0500000000000000000000000000000000000000000000000000000000000000"},
      // 2^255 - 1 = p + 18 -> 18
      {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       "1200000000000000000000000000000000000000000000000000000000000000"},
      // p - 1 stays
      {"ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
  };
  for (const Case& c : cases) {
    ed25519_detail::Fe f;
    auto in = from_hex(c.in);
    ed25519_detail::fe_unpack(f, in.data());
    uint8_t out[32];
    ed25519_detail::fe_pack(out, f);
    EXPECT_EQ(test::to_hex(out, 32), c.out) << c.in;
  }
}

// z * z^-1 = 1 for a spread of values, including ones whose limbs are all at their maximum.
TEST(Ed25519Field, InverseTimesValueIsOne) {
  for (int seed = 0; seed < 40; ++seed) {
    uint8_t bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = uint8_t(seed * 37 + i * (seed | 1) * 11);
    if (seed == 0) {  // p - 1: every limb at its largest
      std::memset(bytes, 0xff, 32);
      bytes[0] = 0xec;
      bytes[31] = 0x7f;
    }
    ed25519_detail::Fe z, zi, prod;
    ed25519_detail::fe_unpack(z, bytes);
    ed25519_detail::fe_invert(zi, z);
    ed25519_detail::fe_mul(prod, z, zi);
    uint8_t out[32];
    ed25519_detail::fe_pack(out, prod);
    EXPECT_EQ(test::to_hex(out, 32),
              "0100000000000000000000000000000000000000000000000000000000000000")
        << "seed " << seed;
  }
}

// Scalar reduction at its edges: L itself, L - 1, 2^512 - 1 and a digest of all zeros.
TEST(Ed25519Scalar, ReduceEdges) {
  struct Case {
    const char* in;   // 64 bytes, little-endian
    const char* out;  // 32 bytes
  } cases[] = {
      {"edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"
       "0000000000000000000000000000000000000000000000000000000000000000",
       "0000000000000000000000000000000000000000000000000000000000000000"},
      {"ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"
       "0000000000000000000000000000000000000000000000000000000000000000",
       "ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"},
      {"0000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000",
       "0000000000000000000000000000000000000000000000000000000000000000"},
      // (2^512 - 1) mod L
      {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
       "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
       "000f9c44e31106a447938568a71b0ed065bef517d273ecce3d9a307c1b419903"},
  };
  for (const Case& c : cases) {
    auto in = from_hex(c.in);
    uint8_t out[32];
    ed25519_detail::sc_reduce(out, in.data());
    EXPECT_EQ(test::to_hex(out, 32), c.out) << c.in;
  }
}

}  // namespace
}  // namespace ks
