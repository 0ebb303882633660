// Module files and their detached signatures, signed here with OpenSSL.
#include "crypto/module_signature.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/temp.h"

namespace ks {
namespace {

std::vector<uint8_t> sign(EVP_PKEY* key, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> sig(64);
  size_t n = 64;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EXPECT_EQ(EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key), 1);
  EXPECT_EQ(EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size()), 1);
  EVP_MD_CTX_free(ctx);
  return sig;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  ASSERT_TRUE(f.good()) << path;
}

class ModuleSignature : public testing::Test {
protected:
  void SetUp() override {
    uint8_t seed[32];
    std::mt19937 rng(5);
    for (auto& b : seed) b = uint8_t(rng());
    key_ = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t n = 32;
    ASSERT_EQ(EVP_PKEY_get_raw_public_key(key_, pk_, &n), 1);
    dir_ = temp_dir() + "modsig-" + testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(make_dirs(dir_));
  }
  void TearDown() override { EVP_PKEY_free(key_); }

  // A file of `size` bytes and its .sig, with the signature's bytes edited by `edit`.
  std::string make(const std::string& name, size_t size,
                   void (*edit)(std::vector<uint8_t>&) = nullptr) {
    std::string path = path_join(dir_, name);
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i * 13 + 1);
    write_bytes(path, data);
    auto sig = sign(key_, data);
    if (edit) edit(sig);
    write_bytes(path + ".sig", sig);
    return path;
  }

  bool check(const std::string& path) {
    HeldFile held;
    bool ok = verify_module_file(path, pk_, held);
    EXPECT_EQ(held.is_open(), ok) << "the file is held exactly when it verified";
    return ok;
  }

  EVP_PKEY* key_ = nullptr;
  uint8_t pk_[32];
  std::string dir_;
};

TEST_F(ModuleSignature, SignedFileVerifiesAndStaysHeld) {
  EXPECT_TRUE(check(make("wing-4.2.0.dll", 5000)));
  EXPECT_TRUE(check(make("one-byte.dll", 1)));
}

TEST_F(ModuleSignature, SignatureFileMustBeExactly64Bytes) {
  struct Case {
    const char* name;
    void (*edit)(std::vector<uint8_t>&);
  } cases[] = {
      {"short", [](std::vector<uint8_t>& s) { s.pop_back(); }},
      {"long", [](std::vector<uint8_t>& s) { s.push_back(0); }},  // a good signature plus one byte
      {"empty", [](std::vector<uint8_t>& s) { s.clear(); }},
      {"flipped R", [](std::vector<uint8_t>& s) { s[3] ^= 0x10; }},
      {"flipped S", [](std::vector<uint8_t>& s) { s[40] ^= 0x01; }},
      {"base64 text", [](std::vector<uint8_t>& s) { s.assign(88, 'A'); }},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(check(make(std::string("m-") + c.name + ".dll", 300, c.edit))) << c.name;
}

TEST_F(ModuleSignature, FileSizeLimits) {
  EXPECT_TRUE(check(make("max.dll", kModuleFileMaxBytes)));
  EXPECT_FALSE(check(make("over.dll", kModuleFileMaxBytes + 1)));
  // An empty file is refused even with a .sig that signs the empty message.
  EXPECT_FALSE(check(make("empty.dll", 0)));
}

TEST_F(ModuleSignature, MissingOrChangedFilesFail) {
  std::string path = make("wing-1.0.0.dll", 400);
  std::vector<uint8_t> changed(400, 0);
  write_bytes(path, changed);
  EXPECT_FALSE(check(path)) << "file replaced after signing";

  EXPECT_FALSE(check(path_join(dir_, "absent.dll")));
  std::string unsigned_path = make("unsigned.dll", 400);
  ASSERT_TRUE(remove_file(unsigned_path + ".sig"));
  EXPECT_FALSE(check(unsigned_path));
  // A signature by another key.
  uint8_t other[32] = {};
  other[0] = 1;
  HeldFile held;
  EXPECT_FALSE(verify_module_file(make("other-key.dll", 400), other, held));
}

// The build's own key: a test build trusts the throw-away key made for its tree, and a file
// signed with that key verifies through the plain entry point.
TEST_F(ModuleSignature, TestBuildTrustsTheTreeTestKey) {
  ASSERT_TRUE(release_key_is_test_key());
  FILE* f = std::fopen(KS_TEST_SIGNING_KEY, "r");
  ASSERT_NE(f, nullptr) << KS_TEST_SIGNING_KEY;
  EVP_PKEY* tree_key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  ASSERT_NE(tree_key, nullptr);
  uint8_t pk[32];
  size_t n = 32;
  ASSERT_EQ(EVP_PKEY_get_raw_public_key(tree_key, pk, &n), 1);
  EXPECT_EQ(std::memcmp(pk, release_key(), 32), 0);

  std::string path = path_join(dir_, "x32-1.0.0.dll");
  std::vector<uint8_t> data(1000, 0x5a);
  write_bytes(path, data);
  write_bytes(path + ".sig", sign(tree_key, data));
  EXPECT_TRUE(verify_module_file(path));
  EXPECT_FALSE(check(path)) << "and not with a different key";
  EVP_PKEY_free(tree_key);
}

}  // namespace
}  // namespace ks
