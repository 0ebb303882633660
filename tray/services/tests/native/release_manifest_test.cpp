// The release manifest and its entries, signed here with OpenSSL by a key of the test's own.
#include "tray/services/release_manifest.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <string>
#include <vector>

namespace ks::tray {
namespace {

std::string b64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
  out.resize(size_t(n));
  return out;
}

class Signer {
public:
  explicit Signer(uint8_t seed_byte) {
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = uint8_t(seed_byte + i);
    key_ = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t n = 32;
    EVP_PKEY_get_raw_public_key(key_, pk_, &n);
  }
  ~Signer() { EVP_PKEY_free(key_); }
  std::string sign(const std::string& data) const {
    std::string sig(64, '\0');
    size_t n = 64;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_);
    EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(sig.data()), &n,
                   reinterpret_cast<const unsigned char*>(data.data()), data.size());
    EVP_MD_CTX_free(ctx);
    return sig;
  }
  const uint8_t* pk() const { return pk_; }

private:
  EVP_PKEY* key_ = nullptr;
  uint8_t pk_[32] = {};
};

const std::string kHash(64, 'a');

// One entry as JSON text; `extra` is appended inside the object, `skip` drops one member.
std::string entry(const std::string& file, const std::string& version,
                  const std::string& extra = "", const std::string& skip = "") {
  std::vector<std::pair<std::string, std::string>> m = {
      {"file", "\"" + file + "\""},
      {"version", "\"" + version + "\""},
      {"url", "\"https://localhost/f/" + file + "\""},
      {"sha256", "\"" + kHash + "\""},
      {"size", "1000"},
      {"sig", "\"" + b64(std::string(64, 'S')) + "\""},
  };
  std::string out = "{";
  for (auto& [k, v] : m) {
    if (k == skip) continue;
    if (out.size() > 1) out += ",";
    out += "\"" + k + "\":" + v;
  }
  if (!extra.empty()) out += (out.size() > 1 ? "," : "") + extra;
  return out + "}";
}

std::string manifest(const std::string& body, const std::string& sig_b64) {
  return R"({"manifest":{"format":"kestrune-release/1","platforms":{"windows-x64":{"body":")" +
         b64(body) + R"(","sig":")" + sig_b64 + R"("}}}})";
}

class ReleaseManifest : public testing::Test {
protected:
  Signer key_{1};
  ReleaseNames names_ = [] {
    ReleaseNames n;
    n.edition = "standard";
    return n;
  }();
  std::string signed_manifest(const std::string& body) const {
    return manifest(body, b64(key_.sign(body)));
  }
  bool parse(const std::string& reply, Release& r, std::string& msg) const {
    return parse_release_manifest(reply, names_, key_.pk(), r, msg);
  }
};

TEST(ReleaseEntryRules, EachRuleBrokenOnceIsRefused) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(entry("Kestrune.dll", "3.3.0", "\"abi\":3"), v));
  ReleaseEntry e;
  ASSERT_TRUE(parse_release_entry(v, e));
  EXPECT_EQ(e.file, "Kestrune.dll");
  EXPECT_EQ(e.size, 1000);
  EXPECT_EQ(e.abi, 3);
  EXPECT_EQ(e.sig[0], 'S');

  struct Case {
    const char* name;
    std::string json;
  };
  const Case cases[] = {
      {"no file", entry("", "1.0.0", "", "file")},
      {"empty file", entry("", "1.0.0")},
      {"slash in file", entry("a/b.dll", "1.0.0")},
      {"backslash in file", entry("a\\\\b.dll", "1.0.0")},
      {"blank in file", entry("a b.dll", "1.0.0")},
      {"dot dot file", entry("..", "1.0.0")},
      {"file is a number", entry("x", "1.0.0", "", "file").insert(1, "\"file\":5,")},
      {"no version", entry("x.dll", "1.0.0", "", "version")},
      {"version not three numbers", entry("x.dll", "one")},
      {"http url", entry("x.dll", "1.0.0", "", "url").insert(1, "\"url\":\"http://localhost/x\",")},
      {"no url", entry("x.dll", "1.0.0", "", "url")},
      {"upper-case sha256", entry("x.dll", "1.0.0", "", "sha256")
                                .insert(1, "\"sha256\":\"" + std::string(64, 'A') + "\",")},
      {"short sha256", entry("x.dll", "1.0.0", "", "sha256")
                           .insert(1, "\"sha256\":\"" + std::string(63, 'a') + "\",")},
      {"no sha256", entry("x.dll", "1.0.0", "", "sha256")},
      {"size 0", entry("x.dll", "1.0.0", "", "size").insert(1, "\"size\":0,")},
      {"size over 64 MiB", entry("x.dll", "1.0.0", "", "size").insert(1, "\"size\":67108865,")},
      {"fractional size", entry("x.dll", "1.0.0", "", "size").insert(1, "\"size\":10.5,")},
      {"size as text", entry("x.dll", "1.0.0", "", "size").insert(1, "\"size\":\"1000\",")},
      {"no size", entry("x.dll", "1.0.0", "", "size")},
      {"no sig", entry("x.dll", "1.0.0", "", "sig")},
      {"sig of 63 bytes", entry("x.dll", "1.0.0", "", "sig")
                              .insert(1, "\"sig\":\"" + b64(std::string(63, 'S')) + "\",")},
      {"sig of 65 bytes", entry("x.dll", "1.0.0", "", "sig")
                              .insert(1, "\"sig\":\"" + b64(std::string(65, 'S')) + "\",")},
      {"sig not Base64", entry("x.dll", "1.0.0", "", "sig").insert(1, "\"sig\":\"!!!!\",")},
      {"abi as text", entry("x.dll", "1.0.0", "\"abi\":\"3\"")},
      {"console as number", entry("x.dll", "1.0.0", "\"console\":1")},
      {"not an object", "[1]"},
  };
  for (const Case& c : cases) {
    JsonValue j;
    ASSERT_TRUE(parsed_then_blank(c.json, j)) << c.name << ": " << c.json;
    EXPECT_FALSE(parse_release_entry(j, e)) << c.name;
  }

  // The first of doubled members counts; a negative abi reads as -1; exactly 64 MiB is allowed.
  JsonValue doubled;
  ASSERT_TRUE(parsed_then_blank(
      entry("x.dll", "1.0.0", "\"file\":\"y/z\",\"abi\":-7").insert(1, "\"size\":67108864,"),
      doubled));
  ASSERT_TRUE(parse_release_entry(doubled, e));
  EXPECT_EQ(e.file, "x.dll");
  EXPECT_EQ(e.abi, -1);
  EXPECT_EQ(e.size, 67108864);
}

TEST(ReleaseEntryRules, ModuleFileMustBeConsoleDashVersionDll) {
  struct Case {
    const char* file;
    const char* console;
    bool ok;
  };
  const Case cases[] = {
      {"wing-3.3.0.dll", "wing", true},
      {"x32-3.3.0.dll", "x32", true},
      {"Wing-3.3.0.dll", "wing", false},
      {"wing-3.3.0.DLL", "wing", false},
      {"wing-3.3.1.dll", "wing", false},
      {"wing_3.3.0.dll", "wing", false},
      {"WING-3.3.0.dll", "WING", false},
      {"3x-3.3.0.dll", "3x", false},
      {"-3.3.0.dll", "", false},
      {"abcdefghijklmnopq-3.3.0.dll", "abcdefghijklmnopq", false},
      {"abcdefghijklmnop-3.3.0.dll", "abcdefghijklmnop", true},
  };
  for (const Case& c : cases) {
    ReleaseEntry e;
    e.file = c.file;
    e.console = c.console;
    e.version = "3.3.0";
    EXPECT_EQ(validate_module_entry(e), c.ok) << c.file << " / " << c.console;
  }
}

TEST_F(ReleaseManifest, GoodReleaseGivesItsEntries) {
  std::string body =
      R"({"product":"kestrune","platform":"windows-x64","version":"3.3.0","modules":[)" +
      entry("wing-3.3.0.dll", "3.3.0", R"("console":"wing")") + "," +
      entry("Wing-3.3.0.dll", "3.3.0", R"("console":"wing")") + "," +
      entry("x32-3.3.1.dll", "3.3.1", R"("console":"x32","abi":4)") + "]," + R"("loader":)" +
      entry("Kestrune.dll", "3.3.0") + "," + R"("app":)" +
      entry("Kestrune.exe", "3.3.0", R"("edition":"standard")") + "}";
  Release r;
  std::string msg;
  ASSERT_TRUE(parse(signed_manifest(body), r, msg)) << msg;
  EXPECT_EQ(r.version, "3.3.0");
  ASSERT_EQ(r.modules.size(), 2u);  // the one named by a different case is skipped
  EXPECT_EQ(r.modules[0].file, "wing-3.3.0.dll");
  EXPECT_EQ(r.modules[1].abi, 4);
  ASSERT_TRUE(r.loader && r.app);
  EXPECT_EQ(r.app->edition, "standard");
}

TEST_F(ReleaseManifest, LoaderAndProgramEntriesNeedTheirNamesAndEditionEntriesWin) {
  std::string body = R"({"product":"kestrune","platform":"windows-x64","version":"3.3.0",)"
                     R"("loader":)" +
                     entry("Other.dll", "3.3.0") + R"(,"app":)" + entry("Kestrune.exe", "3.3.0") +
                     R"(,"apps":[)" + entry("Kestrune-pro.exe", "3.4.0", R"("edition":"pro")") +
                     "," + entry("Kestrune-standard.exe", "3.4.1", R"("edition":"standard")") +
                     "," + entry("Kestrune.exe", "3.4.2", R"("edition":"standard")") + "]}";
  Release r;
  std::string msg;
  ASSERT_TRUE(parse(signed_manifest(body), r, msg)) << msg;
  EXPECT_FALSE(r.loader);
  ASSERT_TRUE(r.app);
  EXPECT_EQ(r.app->file, "Kestrune-standard.exe");
  EXPECT_EQ(r.app->version, "3.4.1");
}

TEST_F(ReleaseManifest, EachCheckHasItsMessage) {
  const std::string good = R"({"product":"kestrune","platform":"windows-x64","version":"3.3.0"})";
  Signer other(77);
  auto with_platforms = [](const std::string& p) {
    return R"({"manifest":{"format":"kestrune-release/1","platforms":)" + p + "}}";
  };
  struct Case {
    const char* name;
    std::string reply;
    const char* message;
  };
  const Case cases[] = {
      {"not JSON", "{\"manifest\":", "reply is not JSON"},
      {"trailing garbage", signed_manifest(good) + " x", "reply is not JSON"},
      {"over 256 KiB", signed_manifest(good) + std::string(kManifestLimit, ' '),
       "reply is not JSON"},
      {"no manifest", R"({"other":{}})", "no release in the current format"},
      {"top level is an array", "[1]", "no release in the current format"},
      {"old format", R"({"manifest":{"format":"kestrune-release/2","platforms":{}}})",
       "no release in the current format"},
      {"format as number", R"({"manifest":{"format":1}})", "no release in the current format"},
      {"no platforms", R"({"manifest":{"format":"kestrune-release/1"}})",
       "no release for this platform"},
      {"other platform only", with_platforms(R"({"mac-arm64":{}})"),
       "no release for this platform"},
      {"platforms is an array", with_platforms("[]"), "no release for this platform"},
      {"body not Base64",
       with_platforms(R"({"windows-x64":{"body":"@@","sig":")" + b64(std::string(64, 'x')) +
                      "\"}}"),
       "malformed release entry"},
      {"sig of 63 bytes", manifest(good, b64(key_.sign(good).substr(1))),
       "malformed release entry"},
      {"no sig", with_platforms(R"({"windows-x64":{"body":")" + b64(good) + "\"}}"),
       "malformed release entry"},
      {"other key", manifest(good, b64(other.sign(good))),
       "release manifest is NOT signed by Kestrune - ignored"},
      {"body changed after signing", manifest(good + " ", b64(key_.sign(good))),
       "release manifest is NOT signed by Kestrune - ignored"},
      {"signed body not JSON", signed_manifest("{\"product\":"), "signed manifest is not JSON"},
      {"other product",
       signed_manifest(R"({"product":"other","platform":"windows-x64","version":"3.3.0"})"),
       "manifest is for another product or platform"},
      {"other platform",
       signed_manifest(R"({"product":"kestrune","platform":"linux","version":"3.3.0"})"),
       "manifest is for another product or platform"},
      {"no product", signed_manifest(R"({"platform":"windows-x64","version":"3.3.0"})"),
       "manifest is for another product or platform"},
      {"no version", signed_manifest(R"({"product":"kestrune","platform":"windows-x64"})"),
       "signed manifest has no valid release version"},
  };
  for (const Case& c : cases) {
    Release r;
    std::string msg;
    EXPECT_FALSE(parse(c.reply, r, msg)) << c.name;
    EXPECT_EQ(msg, c.message) << c.name;
  }
  Release r;
  std::string msg;
  EXPECT_TRUE(parse(signed_manifest(good) + "\n", r, msg)) << msg;
}

TEST(VersionOrder, MajorMinorPatchThenPrerelease) {
  struct Case {
    const char* a;
    const char* b;
    bool newer;
  };
  const Case cases[] = {{"3.2.1", "3.2.0", true},     {"3.2.0", "3.2.0", false},
                        {"3.10.0", "3.9.9", true},    {"2.9.9", "3.0.0", false},
                        {"3.2.0", "3.2.0-rc1", true}, {"3.2.0-rc1", "3.2.0", false}};
  for (const Case& c : cases)
    EXPECT_EQ(version_newer(parse_version(c.a), parse_version(c.b)), c.newer)
        << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace ks::tray
