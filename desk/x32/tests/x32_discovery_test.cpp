// Discovery against simulated desks on loopback: "/xinfo" answers, the card question, duplicate
// and foreign answers, and the record each answer becomes.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "desk/x32/tests/support/x32_recorders.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "sim/x32/x32_sim.h"

namespace ks {
namespace {

std::vector<uint32_t> g_targets;

int32_t test_targets(uint32_t* out, int32_t max) {
  int32_t n = 0;
  for (uint32_t t : g_targets)
    if (n < max) out[n++] = t;
  return n;
}

class X32Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    X32DiscoveryNet net;
    net.targets = test_targets;
    x32_set_discovery_net(net);
    sim::X32Sim::Options o;
    o.address = "127.0.0.31";
    o.name = "FOH";
    o.model = "X32RACK";
    o.version = "4.06-8";
    ASSERT_TRUE(a.start(o));
    o.address = "127.0.0.32";
    o.name = "Monitors, left";
    o.model = "M32";
    o.card_type = 3;
    ASSERT_TRUE(b.start(o));
  }
  void TearDown() override { x32_set_discovery_net({}); }
  test::X32Recorder rec;
  sim::X32Sim a, b;
};

TEST_F(X32Discovery, AskingOneAddressFindsThatDesk) {
  DeskAnswer out[8];
  ASSERT_EQ(x32_discover("127.0.0.31", out, 8, 1000), 1);
  EXPECT_STREQ(out[0].ip, "127.0.0.31");
  EXPECT_STREQ(out[0].name, "FOH");
  EXPECT_STREQ(out[0].model, "X32RACK");
  EXPECT_STREQ(out[0].identity, "X32,127.0.0.31,FOH,X32RACK,4.06-8");
  EXPECT_STREQ(out[0].id, "name:FOH");  // no ARP answer on loopback
  EXPECT_EQ(out[0].card, 1);
  EXPECT_EQ(a.count("/xinfo"), 1);
  EXPECT_EQ(b.count("/xinfo"), 0);
  // The question is the 12-byte "/xinfo" with an empty type tag.
  EXPECT_EQ(a.received().at(0).bytes.size(), 12u);
}

TEST_F(X32Discovery, ASweepFindsEveryDeskOnceWithItsCard) {
  uint32_t ip_a = 0x7F00001F, ip_b = 0x7F000020;
  g_targets = {ip_a, ip_b, ip_a, 0x7F000021};  // a twice; .33 has no desk
  DeskAnswer out[8];
  int n = x32_discover(nullptr, out, 8, 600);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(a.count("/xinfo"), 2);  // asked twice, listed once
  DeskAnswer* m = std::strcmp(out[0].ip, "127.0.0.32") == 0 ? &out[0] : &out[1];
  EXPECT_STREQ(m->name, "Monitors, left");
  EXPECT_STREQ(m->identity, "X32,127.0.0.32,Monitors, left,M32,4.06-8");
  EXPECT_EQ(m->card, 0);  // a card type below 11 is another card
}

TEST_F(X32Discovery, AnswersThatAreNoDeskAreIgnored) {
  // A silent desk, one that answers with too little, and one whose card question goes unanswered.
  a.set_silent(true);
  DeskAnswer out[8];
  EXPECT_EQ(x32_discover("127.0.0.31", out, 8, 300), 0);
  a.set_silent(false);

  sim::X32Sim c;
  sim::X32Sim::Options o;
  o.address = "127.0.0.33";
  ASSERT_TRUE(c.start(o));
  c.put("/-stat/xcardtype", sim::osc_s("WSG"));
  ASSERT_EQ(x32_discover("127.0.0.33", out, 8, 1000), 1);
  EXPECT_EQ(out[0].card, -1);  // not an integer: unknown

  // An "/xinfo" with fewer than three strings (our own question echoed back looks like this).
  sim::UdpSocket fake;
  uint32_t ip;
  sim::parse_loopback("127.0.0.34", &ip);
  ASSERT_TRUE(fake.open(ip, 10023));
  std::thread answer([&] {
    uint8_t buf[512];
    sim::UdpPeer from;
    if (fake.receive(buf, sizeof buf, &from, 1000) > 0) {
      auto bare = sim::osc_write({"/xinfo", {}});
      fake.send(from, bare.data(), bare.size());
      auto two = sim::osc_write({"/xinfo", {sim::osc_s("127.0.0.34"), sim::osc_s("x")}});
      fake.send(from, two.data(), two.size());
    }
  });
  EXPECT_EQ(x32_discover("127.0.0.34", out, 8, 400), 0);
  answer.join();
  EXPECT_TRUE(rec.has_line("[desk] ignored a 12-byte reply from 127.0.0.34 during discovery"));
}

TEST_F(X32Discovery, AtMostMaxAnswers) {
  g_targets = {0x7F00001F, 0x7F000020};
  DeskAnswer out[1];
  EXPECT_EQ(x32_discover(nullptr, out, 1, 600), 1);
  EXPECT_EQ(x32_discover(nullptr, out, 0, 100), 0);
  EXPECT_EQ(x32_discover("not an address", out, 1, 100), 0);
}

}  // namespace
}  // namespace ks
