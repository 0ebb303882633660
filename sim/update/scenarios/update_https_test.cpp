// https_get through WinHTTP against the update server's stand-in on localhost: the answer's bytes
// exactly, the query reaching the server, the size limit to the byte, HTTP errors, an endless
// body, a stalled answer, and a certificate from a CA that the machine does not trust.
#include <gtest/gtest.h>

#include "os/file.h"
#include "sim/update/win/root_store.h"
#include "tray/services/https_get.h"

namespace ks::tray {
namespace {

const std::string kQuery = "/v1/updates?product=kestrune";

class Https : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::string why;
    ASSERT_TRUE(sim::trust_test_root(KS_UPDATE_CERTS "/ca.der", why)) << why;
  }
  void SetUp() override {
    ASSERT_FALSE(sim::update_sim_dir().empty()) << "run inside with_update_server.sh";
    ASSERT_TRUE(sim::set_server_release(
        R"({"version":"3.3.0","entries":[{"role":"module","file":"wing-3.3.0.dll","version":"3.3.0","console":"wing",)"
        R"("abi":3,"source":")" KS_UPDATE_CERTS R"(/ca.der"}]})"));
    ASSERT_TRUE(sim::set_server_mode("good"));
  }
  static std::string last_manifest() {
    std::string text;
    read_file(sim::update_sim_dir() + "\\last-manifest", 1 << 20, text);
    return text;
  }
};

TEST_F(Https, TheAnswerComesWholeAndTheQueryReachesTheServer) {
  int status = 0;
  std::string bytes;
  ASSERT_TRUE(https_get(update_check_url(), 0x40000, status, bytes));
  EXPECT_EQ(status, 200);
  EXPECT_EQ(bytes, last_manifest());
  EXPECT_NE(bytes.find("kestrune-release/1"), std::string::npos);
  EXPECT_NE(sim::server_requests().find("8443 " + kQuery + "\n"), std::string::npos)
      << sim::server_requests();
}

TEST_F(Https, TheLimitHoldsToTheByte) {
  for (size_t n : {size_t(0x40000), size_t(0x40001)}) {
    ASSERT_TRUE(sim::set_server_mode("size " + std::to_string(n)));
    int status = 0;
    std::string bytes;
    bool ok = https_get(update_check_url(), 0x40000, status, bytes);
    EXPECT_EQ(ok, n == 0x40000) << n;
    EXPECT_EQ(bytes.size(), ok ? n : 0u) << n;
    EXPECT_EQ(status, 200) << n;
  }
}

TEST_F(Https, RefusedAnswers) {
  struct Case {
    const char* name;
    std::string mode;
    std::string url;
    int status;
  };
  const Case cases[] = {
      {"HTTP 404", "http-error 404", update_check_url(), 404},
      {"HTTP 500", "http-error 500", update_check_url(), 500},
      {"endless body", "endless", update_check_url(), 200},
      {"stalled, then dropped", "stall", update_check_url(), 0},
      {"untrusted certificate", "good", "https://localhost:8444" + kQuery, 0},
      {"by address, not the certificate's name", "good", "https://127.0.0.1:8443" + kQuery, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(sim::set_server_mode(c.mode));
    int status = -1;
    std::string bytes = "stale";
    EXPECT_FALSE(https_get(c.url, 0x40000, status, bytes)) << c.name;
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_TRUE(bytes.empty()) << c.name;
  }
  // The untrusted port answered at the TLS level only: no request ever reached it.
  EXPECT_EQ(sim::server_requests().find("8444 "), std::string::npos) << sim::server_requests();
}

}  // namespace
}  // namespace ks::tray
