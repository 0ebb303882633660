// Discovery against simulated desks on loopback: "/xinfo" answers, the card question, duplicate
// and foreign answers, and the record each answer becomes.
// ks-test: lock=udp10023
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "desk/x32/tests/support/x32_recorders.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "os/socket.h"
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

// No adapter's broadcast: the sweep stays on the loopback targets above.
int32_t no_broadcast_sockets(Socket*, int32_t) { return 0; }

uint32_t ip_of(const std::string& text) { return *parse_ipv4(text); }

class X32Discovery : public ::testing::Test {
protected:
  void SetUp() override {
    X32DiscoveryNet net;
    net.targets = test_targets;
    net.broadcast_sockets = no_broadcast_sockets;
    x32_set_discovery_net(net);
  }
  void TearDown() override { x32_set_discovery_net({}); }
  bool start(sim::X32Sim& sim, int n, const char* name, const char* model, int card = 11) {
    sim::X32Sim::Options o;
    o.address = test::x32_test_address(n);
    o.name = name;
    o.model = model;
    o.version = "4.06-8";
    o.card_type = card;
    return sim.start(o);
  }
  test::X32Recorder rec;
};

TEST_F(X32Discovery, AskingOneAddressFindsThatDesk) {
  sim::X32Sim a;
  ASSERT_TRUE(start(a, 31, "FOH", "X32RACK"));
  std::string ip = test::x32_test_address(31);
  DeskAnswer out[8];
  ASSERT_EQ(x32_discover(ip.c_str(), out, 8, 1000), 1);
  EXPECT_EQ(std::string(out[0].ip), ip);
  EXPECT_STREQ(out[0].name, "FOH");
  EXPECT_STREQ(out[0].model, "X32RACK");
  EXPECT_EQ(std::string(out[0].identity), "X32," + ip + ",FOH,X32RACK,4.06-8");
  EXPECT_EQ(out[0].card, 1);
  EXPECT_EQ(a.count("/xinfo"), 1);
  // The question is the 12-byte "/xinfo" with an empty type tag.
  EXPECT_EQ(a.received().at(0).bytes.size(), 12u);
#ifndef _WIN32
  EXPECT_STREQ(out[0].id, "name:FOH");  // natively there is no ARP question to ask
#endif
}

TEST_F(X32Discovery, ASweepListsEachDeskOnceWithItsCard) {
  sim::X32Sim a, b;
  ASSERT_TRUE(start(a, 31, "FOH", "X32RACK"));
  std::string ip_a = test::x32_test_address(31);
  g_targets = {ip_of(ip_a), ip_of(ip_a), ip_of("127.0.0.33")};  // a twice; .33 has no desk
  bool two = test::x32_several_desks();
  if (two) {
    ASSERT_TRUE(start(b, 32, "Monitors, left", "M32", 3));
    g_targets.push_back(ip_of("127.0.0.32"));
  }
  DeskAnswer out[8];
  int n = x32_discover(nullptr, out, 8, 600);
  ASSERT_EQ(n, two ? 2 : 1);
  EXPECT_EQ(a.count("/xinfo"), 2);  // asked twice, listed once
  if (two) {
    DeskAnswer* m = std::strcmp(out[0].ip, "127.0.0.32") == 0 ? &out[0] : &out[1];
    EXPECT_STREQ(m->name, "Monitors, left");
    EXPECT_STREQ(m->identity, "X32,127.0.0.32,Monitors, left,M32,4.06-8");
    EXPECT_EQ(m->card, 0);  // a card type below 11 is another card
  }
}

TEST_F(X32Discovery, AStoppingModuleAsksNoCardQuestion) {
  sim::X32Sim a;
  ASSERT_TRUE(start(a, 34, "FOH", "X32"));
  std::string ip = test::x32_test_address(34);
  rec.set_stopping(true);
  DeskAnswer out[8];
  ASSERT_EQ(x32_discover(ip.c_str(), out, 8, 1000), 1);
  EXPECT_STREQ(out[0].name, "FOH");
  EXPECT_EQ(out[0].card, -1) << "not asked: unknown";
  EXPECT_EQ(a.count("/-stat/xcardtype"), 0);
}

TEST_F(X32Discovery, AnswersThatAreNoDeskAreIgnored) {
  std::string ip = test::x32_test_address(33);
  DeskAnswer out[8];
  {
    sim::X32Sim a;
    ASSERT_TRUE(start(a, 33, "FOH", "X32"));
    a.set_silent(true);
    EXPECT_EQ(x32_discover(ip.c_str(), out, 8, 300), 0);
    a.set_silent(false);
    a.put("/-stat/xcardtype", sim::osc_s("WSG"));
    ASSERT_EQ(x32_discover(ip.c_str(), out, 8, 1000), 1);
    EXPECT_EQ(out[0].card, -1);  // not an integer: unknown
  }
  // An "/xinfo" with fewer than three strings (our own question echoed back looks like this).
  sim::UdpSocket fake;
  uint32_t addr;
  sim::parse_loopback(ip, &addr);
  ASSERT_TRUE(fake.open(addr, 10023));
  std::thread answer([&] {
    uint8_t buf[512];
    sim::UdpPeer from;
    if (fake.receive(buf, sizeof buf, &from, 1000) > 0) {
      auto bare = sim::osc_write({"/xinfo", {}});
      fake.send(from, bare.data(), bare.size());
      auto two = sim::osc_write({"/xinfo", {sim::osc_s(ip), sim::osc_s("x")}});
      fake.send(from, two.data(), two.size());
    }
  });
  EXPECT_EQ(x32_discover(ip.c_str(), out, 8, 400), 0);
  answer.join();
  EXPECT_TRUE(rec.has_line("[desk] ignored a 12-byte reply from " + ip + " during discovery"));
}

TEST(X32DiscoveryAnswer, TheDesksTextsReachLogsAndTheStatusBlockWithoutControlCharacters) {
  auto d = sim::osc_write({"/xinfo",
                           {sim::osc_s("10.0.0.9\r"), sim::osc_s("FOH\x1b[2J\nfake line"),
                            sim::osc_s("X32\x7f\t"), sim::osc_s("4.06\x01")}});
  DeskAnswer a;
  ASSERT_TRUE(x32_parse_xinfo(d.data(), d.size(), "127.0.0.31", &a));
  EXPECT_STREQ(a.ip, "127.0.0.31");
  EXPECT_STREQ(a.name, "FOH?[2J?fake line");
  EXPECT_STREQ(a.model, "X32??");
  EXPECT_STREQ(a.identity, "X32,10.0.0.9?,FOH?[2J?fake line,X32??,4.06?");
  EXPECT_STREQ(a.id, "name:FOH?[2J?fake line");
  EXPECT_EQ(a.card, -1);

  // Not an answer: out untouched.
  std::memset(&a, 'z', sizeof a);
  auto two = sim::osc_write({"/xinfo", {sim::osc_s("a"), sim::osc_s("b")}});
  auto other = sim::osc_write({"/info", {sim::osc_s("a"), sim::osc_s("b"), sim::osc_s("c")}});
  EXPECT_FALSE(x32_parse_xinfo(two.data(), two.size(), "127.0.0.31", &a));
  EXPECT_FALSE(x32_parse_xinfo(other.data(), other.size(), "127.0.0.31", &a));
  EXPECT_FALSE(x32_parse_xinfo(d.data(), d.size() - 1, "127.0.0.31", &a));
  EXPECT_EQ(a.name[0], 'z');
}

TEST_F(X32Discovery, AtMostMaxAnswers) {
  sim::X32Sim a;
  ASSERT_TRUE(start(a, 31, "FOH", "X32"));
  g_targets = {ip_of(test::x32_test_address(31))};
  DeskAnswer out[1];
  EXPECT_EQ(x32_discover(nullptr, out, 1, 600), 1);
  EXPECT_EQ(x32_discover(nullptr, out, 0, 100), 0);
  EXPECT_EQ(x32_discover("not an address", out, 1, 100), 0);
}

}  // namespace
}  // namespace ks
