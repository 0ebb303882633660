// ks-test: lock=udp-2222
// WING discovery: the identity line, the card questions, and a sweep against simulated desks
// on loopback addresses of their own.
#include "desk/wing/wing_discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "desk/wing/tests/support/wing_test_support.h"
#include "os/socket.h"
#include "sim/wing/discovery.h"

namespace ks {
namespace {

TEST(WingIdentity, ParseTable) {
  struct Case {
    const char* what;
    std::string datagram;
    bool ok;
    const char* name;
    const char* model;
    const char* id;
  };
  using namespace std::string_literals;
  const std::string long_name(100, 'n');
  const Case cases[] = {
      {"plain", "WING,192.168.1.62,FOH,ngc-full,S2023123,3.0.5", true, "FOH", "ngc-full",
       "S2023123"},
      {"name with commas", "WING,10.0.0.2,Stage, left, 2,ngc-full,S1,3.0", true, "Stage, left, 2",
       "ngc-full", "S1"},
      {"empty serial: id is the sender", "WING,10.0.0.2,FOH,ngc-full,,3.0", true, "FOH", "ngc-full",
       "127.0.0.9"},
      {"empty name", "WING,10.0.0.2,,rack,S7,3.0", true, "", "rack", "S7"},
      {"long name cut to the record", "WING,1.2.3.4," + long_name + ",m,S,f", true,
       "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "m", "S"},
      {"text after a NUL is not part of it", "WING,1.2.3.4,FOH,m,S9,f\0,x,y,z"s, true, "FOH", "m",
       "S9"},
      {"control characters shown as ?", "WING,1.2.3.4,F\x01H,m,S\n,f", true, "F?H", "m", "S?"},
      {"four commas", "WING,1.2.3.4,FOH,m,S9", false, "", "", ""},
      {"the question itself", "WING?", false, "", "", ""},
      {"not a WING line", "WINGX,1.2.3.4,FOH,m,S9,f", false, "", "", ""},
      {"NUL before the fields", "WING,1.2\0.3.4,FOH,m,S9,f"s, false, "", "", ""},
      {"empty", "", false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeskAnswer a;
    std::memset(&a, 0x55, sizeof a);
    bool ok = wing_parse_identity(c.datagram, "127.0.0.9", &a);
    ASSERT_EQ(ok, c.ok);
    if (!ok) {
      EXPECT_EQ(static_cast<unsigned char>(a.name[0]), 0x55) << "left untouched";
      continue;
    }
    EXPECT_STREQ(a.ip, "127.0.0.9") << "the sender, not the line's own ip";
    EXPECT_STREQ(a.name, c.name);
    EXPECT_STREQ(a.model, c.model);
    EXPECT_STREQ(a.id, c.id);
    EXPECT_EQ(a.card, -1);
    EXPECT_LT(std::strlen(a.identity), sizeof a.identity);
  }
}

TEST(WingIdentity, IdentityIsCutTo159) {
  std::string line = "WING,1.2.3.4,FOH,m,S9," + std::string(400, 'f');
  DeskAnswer a;
  ASSERT_TRUE(wing_parse_identity(line, "10.1.1.1", &a));
  EXPECT_EQ(std::strlen(a.identity), 159u);
  EXPECT_EQ(std::string(a.identity), line.substr(0, 159));
}

TEST(WingCard, FromTheTwoAnswers) {
  struct Case {
    const char* opt;
    const char* type;
    int32_t card;
  };
  const Case cases[] = {
      {"WSG", "WSG", 1},
      {"WSG-card", nullptr, 1},
      {nullptr, "SoundGrid WSG", 1},
      {"NONE", "DANTE", 0},
      {"", "", 0},
      {"NONE", nullptr, -1},
      {nullptr, nullptr, -1},
      {"wsg", "none", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(wing_card_from(c.opt, c.type), c.card)
        << (c.opt ? c.opt : "(none)") << " / " << (c.type ? c.type : "(none)");
}

sim::DiscoveryBehaviour desk(const char* ip, const char* serial, const char* card = "WSG") {
  sim::DiscoveryBehaviour b;
  b.line = sim::wing_identity_line(ip, "FOH", "ngc-full", serial, "3.0");
  b.opt_mod = b.card_type = card;
  return b;
}

uint32_t addr(const char* text) { return *parse_ipv4(text); }

// The simulated desk sits on 127.0.0.1: under Wine a socket bound to another loopback address
// still sends from 127.0.0.1, which would make every answer look foreign.
const char* const kDeskIp = "127.0.0.1";

TEST(WingDiscover, AskedAddressGivesOneAnswerWithItsCard) {
  struct Case {
    const char* what;
    const char* opt;
    const char* type;
    int32_t card;
  };
  const Case cases[] = {
      {"card fitted", "WSG", "WSG", 1},
      {"no card", "NONE", "NONE", 0},
      {"card questions unanswered", "", "", -1},
      {"one question unanswered", "NONE", "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::DriverRecorder log;
    sim::DiscoveryResponder sim;
    auto b = desk(kDeskIp, "S42");
    b.opt_mod = c.opt;
    b.card_type = c.type;
    ASSERT_TRUE(sim.start(addr(kDeskIp), b));
    DeskAnswer out[8];
    ASSERT_EQ(wing_discover(kDeskIp, out, 8, 1000), 1) << testing::PrintToString(log.lines());
    EXPECT_STREQ(out[0].ip, kDeskIp);
    EXPECT_STREQ(out[0].id, "S42");
    EXPECT_STREQ(out[0].identity, "WING,127.0.0.1,FOH,ngc-full,S42,3.0");
    EXPECT_EQ(out[0].card, c.card);
    EXPECT_EQ(sim.questions(), 1);
  }
}

TEST(WingDiscover, AStoppingModuleAsksNoCardQuestion) {
  test::DriverRecorder services;
  services.set_stopping(true);
  sim::DiscoveryResponder sim;
  ASSERT_TRUE(sim.start(addr(kDeskIp), desk(kDeskIp, "S47")));
  DeskAnswer out[8];
  ASSERT_EQ(wing_discover(kDeskIp, out, 8, 1000), 1);
  EXPECT_STREQ(out[0].id, "S47");
  EXPECT_EQ(out[0].card, -1) << "not asked: unknown";
  EXPECT_EQ(sim.card_questions(), 0);
}

TEST(WingDiscover, BadDatagramsAreIgnoredAndTheGoodAnswerStillCounts) {
  const std::string bad[] = {"WING?", "hello", "WING,1,2,3",
                             std::string("WING,") + std::string(600, 'x')};
  for (const auto& junk : bad) {
    SCOPED_TRACE(junk.substr(0, 12));
    test::DriverRecorder log;
    sim::DiscoveryResponder sim;
    auto b = desk(kDeskIp, "S43");
    b.extra = junk;
    ASSERT_TRUE(sim.start(addr(kDeskIp), b));
    DeskAnswer out[8];
    ASSERT_EQ(wing_discover(kDeskIp, out, 8, 1000), 1);
    EXPECT_STREQ(out[0].id, "S43");
    EXPECT_EQ(log.count_containing("[disc] ignored a datagram from 127.0.0.1"), 1);
  }
}

TEST(WingDiscover, SilenceAndBadArguments) {
  sim::DiscoveryResponder sim;
  auto b = desk(kDeskIp, "S44");
  b.silent = true;
  ASSERT_TRUE(sim.start(addr(kDeskIp), b));
  DeskAnswer out[8];
  EXPECT_EQ(wing_discover(kDeskIp, out, 8, 200), 0);
  EXPECT_EQ(sim.questions(), 1);
  EXPECT_EQ(wing_discover("127.0.0", out, 8, 100), 0);
  EXPECT_EQ(wing_discover(kDeskIp, nullptr, 8, 100), 0);
  EXPECT_EQ(wing_discover(kDeskIp, out, 0, 100), 0);
}

#ifndef _WIN32
TEST(WingDiscover, AnAnswerFromAnotherAddressIsNotTheAskedOnes) {
  // Bound to any address, the responder answers a question to 127.0.0.46 from 127.0.0.1.
  test::DriverRecorder log;
  sim::DiscoveryResponder sim;
  ASSERT_TRUE(sim.start(0, desk("127.0.0.46", "S46")));
  DeskAnswer out[8];
  EXPECT_EQ(wing_discover("127.0.0.46", out, 8, 300), 0);
  EXPECT_EQ(sim.questions(), 1);
  EXPECT_EQ(log.count_containing("(not from the asked address)"), 1);
}
#endif

TEST(WingDiscover, TwoAnswersFromOneAddressGiveOneRecord) {
  sim::DiscoveryResponder sim;
  auto b = desk(kDeskIp, "S45");
  b.extra = b.line;  // the same line twice, as through two adapters
  ASSERT_TRUE(sim.start(addr(kDeskIp), b));
  DeskAnswer out[8];
  ASSERT_EQ(wing_discover(kDeskIp, out, 8, 500), 1);
}

}  // namespace
}  // namespace ks
