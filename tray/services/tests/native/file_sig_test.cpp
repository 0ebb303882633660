// A file against its detached signature: the .sig must be exactly 64 bytes over the whole file.
#include "tray/services/file_sig.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::mk;

TEST(FileSig, OnlyA64ByteSignatureOverTheWholeFileVerifies) {
  uint8_t seed[32], pk[32];
  for (int i = 0; i < 32; ++i) seed[i] = uint8_t(40 + i);
  EVP_PKEY* k = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
  size_t n = 32;
  EVP_PKEY_get_raw_public_key(k, pk, &n);
  auto sign = [&](const std::string& d) {
    std::string sig(64, '\0');
    size_t len = 64;
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestSignInit(c, nullptr, nullptr, nullptr, k);
    EVP_DigestSign(c, reinterpret_cast<uint8_t*>(sig.data()), &len,
                   reinterpret_cast<const uint8_t*>(d.data()), d.size());
    EVP_MD_CTX_free(c);
    return sig;
  };
  testing::TempFolder root;
  const std::string file = root.at("wing-3.3.0.dll"), body(100000, 'm');
  const std::string sig = sign(body);
  struct Case {
    const char* name;
    std::string bytes, sig;
    bool ok;
  };
  const Case cases[] = {
      {"good", body, sig, true},
      {"one byte of the file changed", body.substr(0, 500) + "X" + body.substr(501), sig, false},
      {"file cut short", body.substr(0, body.size() - 1), sig, false},
      {"signature of 63 bytes", body, sig.substr(0, 63), false},
      {"signature of 65 bytes", body, sig + "x", false},
      {"empty signature", body, "", false},
  };
  for (const Case& c : cases) {
    mk(file, c.bytes);
    mk(file + ".sig", c.sig);
    EXPECT_EQ(verify_file_sig(file, pk), c.ok) << c.name;
  }
  mk(file, body);
  std::remove((file + ".sig").c_str());
  EXPECT_FALSE(verify_file_sig(file, pk)) << "no .sig";
  EVP_PKEY_free(k);
}

}  // namespace
}  // namespace ks::tray
