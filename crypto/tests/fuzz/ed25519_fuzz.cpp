// Ed25519 verification: any signature, key and message are checked without fault; under a good
// key no signature passes but the known one of the known message; a good triple passes, and any
// one bit changed in its signature, key or message is refused.
#include <cstring>
#include <vector>

#include "crypto/ed25519.h"
#include "crypto/tests/support/hex.h"
#include "tests/support/fuzz_check.h"

namespace {

struct Triple {
  std::vector<uint8_t> pk, msg, sig;
};

// Two of RFC 8032's vectors (section 7.1, TEST 1 and TEST 3).
const Triple& good(int i) {
  static const Triple t[2] = {
      {ks::test::from_hex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"),
       {},
       ks::test::from_hex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
                          "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b")},
      {ks::test::from_hex("fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025"),
       ks::test::from_hex("af82"),
       ks::test::from_hex("6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
                          "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a")},
  };
  return t[i];
}

bool verify(const Triple& t) {
  return ks::ed25519_verify(t.sig.data(), t.msg.data(), t.msg.size(), t.pk.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const bool good_pass = verify(good(0)) && verify(good(1));
  KS_FUZZ_CHECK(good_pass);
  const Triple& g = good(data[0] & 1);

  // One bit of signature | key | message, chosen by the input, changed.
  Triple t = g;
  size_t bits = (t.sig.size() + t.pk.size() + t.msg.size()) * 8;
  size_t bit = ((size_t(data[1]) << 8) | data[2]) % bits;
  size_t byte = bit / 8;
  uint8_t mask = uint8_t(1u << (bit % 8));
  if (byte < 64)
    t.sig[byte] ^= mask;
  else if (byte < 96)
    t.pk[byte - 64] ^= mask;
  else
    t.msg[byte - 96] ^= mask;
  KS_FUZZ_CHECK(!verify(t));

  // The input as signature and message under a good key (the key is the one thing an attacker
  // does not choose): nothing passes but the known signature of the known message.
  if (size < 3 + 64) return 0;
  const Triple& k = good((data[0] >> 1) & 1);
  Triple forged{k.pk, std::vector<uint8_t>(data + 67, data + size),
                std::vector<uint8_t>(data + 3, data + 67)};
  if (verify(forged)) KS_FUZZ_CHECK(forged.sig == k.sig && forged.msg == k.msg);

  // Any key as well: checked without fault. (A small-order key can be made to pass, as the
  // verifier's contract says; the module key is fixed, so that is no forgery of a module.)
  if (size >= 3 + 96) {
    Triple raw{std::vector<uint8_t>(data + 67, data + 99),
               std::vector<uint8_t>(data + 99, data + size),
               std::vector<uint8_t>(data + 3, data + 67)};
    verify(raw);
  }
  return 0;
}
