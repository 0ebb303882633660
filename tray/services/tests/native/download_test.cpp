// A release file checked by size, SHA-256 and its signature, over a scripted fetch.
#include "tray/services/download.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <array>
#include <cctype>

#include <cstdio>
#include <string>

#include "tray/services/sha256.h"

namespace ks::tray {
namespace {

struct Key {
  EVP_PKEY* k = nullptr;
  uint8_t pk[32] = {};
  explicit Key(uint8_t s) {
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = uint8_t(s * 3 + i);
    k = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t n = 32;
    EVP_PKEY_get_raw_public_key(k, pk, &n);
  }
  ~Key() { EVP_PKEY_free(k); }
  std::array<uint8_t, 64> sign(const std::string& d) const {
    std::array<uint8_t, 64> sig{};
    size_t n = 64;
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestSignInit(c, nullptr, nullptr, nullptr, k);
    EVP_DigestSign(c, sig.data(), &n, reinterpret_cast<const uint8_t*>(d.data()), d.size());
    EVP_MD_CTX_free(c);
    return sig;
  }
};

TEST(DownloadAndVerify, EachCheckRefusesWithItsMessage) {
  Key key(1), other(2);
  const std::string file(5000, 'm');
  ReleaseEntry good;
  good.file = "wing-3.3.0.dll";
  good.url = "https://localhost/wing-3.3.0.dll";
  good.size = int64_t(file.size());
  good.sha256 = sha256_hex(file);
  ASSERT_EQ(good.sha256.size(), 64u);
  good.sig = key.sign(file);

  std::string upper = good.sha256;
  for (char& c : upper) c = char(toupper(c));
  struct Case {
    const char* name;
    std::string served;
    int status;
    bool answered;
    ReleaseEntry entry;
    const char* message;
  };
  ReleaseEntry upper_entry = good, other_sig = good;
  upper_entry.sha256 = upper;
  other_sig.sig = other.sign(file);
  std::string changed = file;
  changed[100] = 'X';
  const Case cases[] = {
      {"HTTP 404", "", 404, false, good, "download failed (HTTP 404)"},
      {"no answer", "", 0, false, good, "download failed (HTTP 0)"},
      {"shorter", file.substr(1), 200, true, good, "wrong size"},
      {"longer", file + "x", 200, true, good, "wrong size"},
      {"other bytes of the same size", changed, 200, true, good, "SHA-256 mismatch"},
      {"hash in upper case", file, 200, true, upper_entry, "SHA-256 mismatch"},
      {"signed by another key", file, 200, true, other_sig, "signature does not verify"},
  };
  for (const Case& c : cases) {
    size_t asked_limit = 0;
    HttpGet get = [&](const std::string&, size_t limit, int& status, std::string& bytes) {
      asked_limit = limit;
      status = c.status;
      bytes = c.served;
      return c.answered;
    };
    std::string bytes, msg;
    EXPECT_FALSE(download_and_verify(get, c.entry, key.pk, bytes, msg)) << c.name;
    EXPECT_EQ(msg, c.message) << c.name;
    EXPECT_TRUE(bytes.empty()) << c.name << ": refused bytes handed on";
    EXPECT_EQ(asked_limit, size_t(kReleaseFileLimit)) << c.name;
  }
  HttpGet serve = [&](const std::string& url, size_t, int& status, std::string& bytes) {
    EXPECT_EQ(url, good.url);
    status = 200;
    bytes = file;
    return true;
  };
  std::string bytes, msg;
  ASSERT_TRUE(download_and_verify(serve, good, key.pk, bytes, msg)) << msg;
  EXPECT_EQ(bytes, file);
}

}  // namespace
}  // namespace ks::tray
