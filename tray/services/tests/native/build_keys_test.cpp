// The keys built into the tray program: the profiles key this tree embeds is its own throw-away
// key and not the release key, and the key rule refuses what a release build must not trust.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>

#include "os/temp.h"
#include "tray/services/build_keys.h"
#include "tray/services/sha256.h"

namespace ks::tray {
namespace {

struct Result {
  int status;
  std::string out;
};

Result run(const std::string& cmd) {
  Result r{-1, ""};
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The raw public key of a PEM private key, as hex (the last 32 bytes of its DER public key).
std::string public_hex(const std::string& pem) {
  Result r = run("openssl pkey -in '" + pem +
                 "' -pubout -outform DER | tail -c 32 | od -An -tx1 | tr -d ' \\n'");
  return r.status == 0 ? r.out : "";
}

Result key_rule(const std::string& pem, const std::string& args) {
  return run(std::string("'" KS_CMAKE "' -DKS_TEST_PROFILES_KEY='") + pem + "' " + args +
             " -P '" KS_PROFILES_KEY_RULE "'");
}

TEST(BuildKeys, ThisTestTreeEmbedsItsOwnThrowAwayProfilesKey) {
  const std::string want = public_hex(KS_TEST_PROFILES_KEY);
  ASSERT_EQ(want.size(), 64u);
  EXPECT_EQ(hex_lower(profiles_key(), 32), want);
  EXPECT_TRUE(profiles_key_is_test_key());
  EXPECT_NE(hex_lower(profiles_key(), 32), hex_lower(release_key(), 32)) << "two keys, not one";
  EXPECT_TRUE(release_key_is_test_key());
}

TEST(BuildKeys, KeyRuleRefusesWhatAReleaseMustNotTrust) {
  const std::string dir = temp_dir() + "keys";
  const std::string pem = dir + "/test-keys/profiles-signing.pem";
  Result made = key_rule(pem, "");
  ASSERT_EQ(made.status, 0) << made.out;
  const std::string test_hex = public_hex(pem);
  ASSERT_EQ(test_hex.size(), 64u);
  EXPECT_NE(made.out.find("profiles key " + test_hex + " test=1"), std::string::npos) << made.out;

  const std::string release = std::string(64, 'a');
  const std::string other = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  struct Case {
    std::string args;
    int ok;
    const char* says;
  } cases[] = {
      {"-DKS_RELEASE_BUILD=ON -DKS_RELEASE_KEY=" + release, 1, "needs KS_PROFILES_KEY"},
      {"-DKS_RELEASE_BUILD=ON -DKS_RELEASE_KEY=" + release + " -DKS_PROFILES_KEY=" + test_hex, 1,
       "this tree's test key"},
      {"-DKS_RELEASE_BUILD=ON -DKS_RELEASE_KEY=" + release + " -DKS_PROFILES_KEY=" + release, 1,
       "not the release key"},
      {"-DKS_RELEASE_KEY=" + other + " -DKS_PROFILES_KEY=" + other, 1, "not the release key"},
      {"-DKS_PROFILES_KEY=" + other.substr(1), 1, "64 hex digits"},
      {"-DKS_PROFILES_KEY=" + other.substr(1) + "g", 1, "64 hex digits"},
      {"-DKS_RELEASE_BUILD=ON -DKS_RELEASE_KEY=" + release + " -DKS_PROFILES_KEY=" + other, 0,
       "test=0"},
      {"-DKS_PROFILES_KEY=0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF", 0,
       "profiles key 0123456789abcdef"},
  };
  for (const Case& c : cases) {
    Result r = key_rule(pem, c.args);
    EXPECT_EQ(r.status != 0, c.ok != 0) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

}  // namespace
}  // namespace ks::tray
