#include "crypto/sha512.h"

#include "crypto/tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ks {
namespace {

std::string hash_hex(const std::string& s) {
  uint8_t out[64];
  sha512(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
  return test::to_hex(out, 64);
}

TEST(Sha512, FipsExamples) {
  struct Case {
    std::string msg;
    const char* digest;
  } cases[] = {
      {"abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {"",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      // 896 bits: the padding no longer fits the block, so a second one is needed.
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
       "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
       "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
      {std::string(1000000, 'a'),
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
       "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
  };
  for (const Case& c : cases) EXPECT_EQ(hash_hex(c.msg), c.digest) << "length " << c.msg.size();
}

// Feeding the same bytes in pieces of every awkward size gives the one-shot digest: catches a
// wrong fill count, a lost tail or a block compressed twice.
TEST(Sha512, PiecewiseEqualsOneShot) {
  std::vector<uint8_t> data(1100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 7);
  for (size_t len : {0u, 1u, 111u, 112u, 113u, 127u, 128u, 129u, 239u, 240u, 256u, 1100u}) {
    uint8_t want[64];
    sha512(data.data(), len, want);
    for (size_t piece : {1u, 3u, 64u, 111u, 127u, 128u, 129u, 500u}) {
      Sha512 s;
      sha512_init(s);
      for (size_t off = 0; off < len; off += piece)
        sha512_update(s, data.data() + off, std::min(piece, len - off));
      uint8_t got[64];
      sha512_final(s, got);
      EXPECT_EQ(test::to_hex(got, 64), test::to_hex(want, 64))
          << "length " << len << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace ks
