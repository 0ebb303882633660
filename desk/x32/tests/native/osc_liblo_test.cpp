// Cross-check of the OSC codec against liblo's oscsend, an OSC implementation we did not write:
// what it builds must be what we build, and what it builds must parse here to the same values.
#include "desk/x32/osc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ks {
namespace {

using Bytes = std::vector<uint8_t>;

// oscsend with the URL "-" writes the datagram to its standard output.
Bytes oscsend(const std::string& args) {
  Bytes out;
  std::string cmd = "oscsend - " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  int c;
  while ((c = fgetc(p)) != EOF) out.push_back(uint8_t(c));
  pclose(p);
  return out;
}

TEST(OscAgainstLiblo, ToolIsInstalled) {
  ASSERT_FALSE(oscsend("/xinfo").empty())
      << "liblo-tools (oscsend) is missing; tools/setup.sh installs it";
}

TEST(OscAgainstLiblo, OurMessagesMatchLibloBytes) {
  struct Case {
    std::string args;
    Bytes ours;
  };
  auto q = [](const char* a) {
    uint8_t b[128];
    return Bytes(b, b + osc_encode_query(a, b, sizeof b));
  };
  auto f = [](const char* a, float v) {
    uint8_t b[128];
    return Bytes(b, b + osc_encode_float(a, v, b, sizeof b));
  };
  auto i = [](const char* a, int32_t v) {
    uint8_t b[128];
    return Bytes(b, b + osc_encode_int(a, v, b, sizeof b));
  };
  std::vector<Case> cases = {
      {"/xremote", q("/xremote")},
      {"/xinfo", q("/xinfo")},
      {"/status", q("/status")},
      {"/-stat/aes50/A", q("/-stat/aes50/A")},
      {"/config/routing/CARD/25-32", q("/config/routing/CARD/25-32")},
      {"/headamp/000/gain f 0.16666667", f("/headamp/000/gain", 12.0f / 72.0f)},
      {"/headamp/127/gain f 1", f("/headamp/127/gain", 1.0f)},
      {"/headamp/031/phantom i 1", i("/headamp/031/phantom", 1)},
      {"/headamp/080/phantom i 0", i("/headamp/080/phantom", 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Bytes theirs = oscsend(c.args);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(c.ours, theirs);
  }
}

TEST(OscAgainstLiblo, LibloMessagesParseToTheirValues) {
  OscMessage m;
  Bytes d = oscsend("/xinfo ssss 192.0.2.7 FOH-Desk X32RACK 4.06-8");
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  EXPECT_STREQ(m.address, "/xinfo");
  ASSERT_EQ(m.string_count, 4);
  EXPECT_STREQ(m.strings[1], "FOH-Desk");
  EXPECT_STREQ(m.strings[3], "4.06-8");

  d = oscsend("/-stat/aes50/A s 'AB  1122'");
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  EXPECT_STREQ(m.strings[0], "AB  1122");

  d = oscsend("/headamp/042/gain f 0.625");
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  EXPECT_EQ(m.arg_tag[0], 'f');
  EXPECT_EQ(m.arg_value[0], 0.625);

  d = oscsend("/mix iifs -5 2147483647 -0.5 abc");
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  ASSERT_EQ(m.arg_count, 4);
  EXPECT_EQ(m.arg_value[0], -5.0);
  EXPECT_EQ(m.arg_value[1], 2147483647.0);
  EXPECT_EQ(m.arg_value[2], -0.5);
  EXPECT_STREQ(m.strings[0], "abc");

  // Tags this driver has no use for: the parse keeps what came before the first of them.
  d = oscsend("/x fTi 1.5 7");
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  EXPECT_EQ(m.arg_count, 1);
  EXPECT_EQ(m.arg_value[0], 1.5);
}

}  // namespace
}  // namespace ks
