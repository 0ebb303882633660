// ks-test: timeout=60
// https_get's refusals that need no server: bad URLs, plain HTTP, nobody listening.
#include "tray/services/https_get.h"

#include <gtest/gtest.h>

namespace ks::tray {
namespace {

TEST(HttpsGet, RefusesWhatIsNotAnHttpsAnswer) {
  struct Case {
    const char* name;
    std::string url;
  };
  const Case cases[] = {
      {"not a URL", "localhost/v1"},
      {"plain HTTP", "http://localhost:1/v1/updates?product=kestrune"},
      {"empty", ""},
      {"nobody listening", "https://localhost:1/v1/updates?product=kestrune"},
      {"overlong", "https://localhost:1/" + std::string(3000, 'a')},
  };
  for (const Case& c : cases) {
    int status = -1;
    std::string bytes = "stale";
    EXPECT_FALSE(https_get(c.url, 0x40000, status, bytes)) << c.name;
    EXPECT_EQ(status, 0) << c.name << ": no answer came";
    EXPECT_TRUE(bytes.empty()) << c.name;
  }
}

TEST(HttpsGet, TheCheckUrlIsHttpsToTheBuiltInHost) {
  std::string url = update_check_url();
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_NE(url.find("/v1/updates?product=kestrune"), std::string::npos);
}

}  // namespace
}  // namespace ks::tray
