// ks-test: lock=udp10023
// The stand-in console itself: gets answered, sets stored and fanned out, subscriptions that
// expire, the misbehaviour switches, and the loopback-only rule.
#include "sim/x32/x32_sim.h"

#include <gtest/gtest.h>

namespace ks::sim {
namespace {

constexpr const char* kAddress = "127.0.0.20";

struct Client {
  UdpSocket socket;
  UdpPeer desk;
  Client() {
    uint32_t ip;
    parse_loopback("127.0.0.1", &ip);
    EXPECT_TRUE(socket.open(ip, 0));
    parse_loopback(kAddress, &desk.ip);
    desk.port = 10023;
  }
  void send(const OscPacket& p) {
    auto b = osc_write(p);
    ASSERT_TRUE(socket.send(desk, b.data(), b.size()));
  }
  std::optional<OscPacket> receive(int timeout_ms = 500) {
    uint8_t buf[2048];
    UdpPeer from;
    int n = socket.receive(buf, sizeof buf, &from, timeout_ms);
    if (n <= 0) return std::nullopt;
    return osc_read(buf, size_t(n));
  }
};

class X32SimTest : public ::testing::Test {
protected:
  void SetUp() override {
    X32Sim::Options o;
    o.address = kAddress;
    o.model = "X32RACK";
    o.subscription_ms = 400;
    ASSERT_TRUE(sim.start(o));
  }
  X32Sim sim;
};

TEST_F(X32SimTest, GetIsAnsweredAndSetIsStoredSilently) {
  Client c;
  c.send({"/headamp/005/gain", {}});
  auto r = c.receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->address, "/headamp/005/gain");
  ASSERT_EQ(r->args.size(), 1u);
  EXPECT_EQ(r->args[0].type, 'f');
  EXPECT_EQ(r->args[0].f, 0.25f);

  c.send({"/headamp/005/gain", {osc_f(0.5f)}});
  c.send({"/headamp/005/phantom", {osc_i(1)}});
  EXPECT_FALSE(c.receive(200));  // a set is not answered
  EXPECT_TRUE(sim.wait_for([&] { return sim.headamp_phantom(5) == 1; }, 1000));
  EXPECT_EQ(sim.headamp_gain(5), 0.5f);

  c.send({"/xinfo", {}});
  r = c.receive();
  ASSERT_TRUE(r);
  ASSERT_EQ(r->args.size(), 4u);
  EXPECT_EQ(r->args[0].s, kAddress);
  EXPECT_EQ(r->args[2].s, "X32RACK");

  c.send({"/no/such/thing", {}});
  EXPECT_FALSE(c.receive(200));
}

TEST_F(X32SimTest, SubscribersGetChangesUntilTheSubscriptionExpires) {
  Client a, b;
  a.send({"/xremote", {}});
  ASSERT_TRUE(sim.wait_for([&] { return sim.subscribers().size() == 1; }, 1000));
  b.send({"/headamp/010/gain", {osc_f(0.75f)}});  // another client's set reaches a
  auto r = a.receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->address, "/headamp/010/gain");
  EXPECT_EQ(r->args[0].f, 0.75f);

  sim.desk_change("/headamp/011/phantom", osc_i(1));
  r = a.receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->address, "/headamp/011/phantom");
  EXPECT_FALSE(b.receive(100));  // b never subscribed

  a.send({"/headamp/012/gain", {osc_f(0.1f)}});  // its own set is not echoed by default
  EXPECT_FALSE(a.receive(150));

  EXPECT_TRUE(sim.wait_for([&] { return sim.subscribers().empty(); }, 2000));
  sim.desk_change("/headamp/011/phantom", osc_i(0));
  EXPECT_FALSE(a.receive(150));
}

TEST_F(X32SimTest, SceneLoadBurstsToSubscribers) {
  Client a;
  a.send({"/xremote", {}});
  ASSERT_TRUE(sim.wait_for([&] { return sim.subscribers().size() == 1; }, 1000));
  std::thread t([&] { sim.scene_load(200, 100); });
  int got = 0;
  while (a.receive(300)) got++;
  t.join();
  EXPECT_EQ(got, 200);
}

TEST_F(X32SimTest, MisbehaviourSwitches) {
  Client c;
  sim.set_silent(true);
  c.send({"/headamp/000/gain", {}});
  EXPECT_FALSE(c.receive(200));
  sim.set_silent(false);

  sim.set_wrong_reply_address(true);
  c.send({"/headamp/000/gain", {}});
  auto r = c.receive();
  ASSERT_TRUE(r);
  EXPECT_NE(r->address, "/headamp/000/gain");
  sim.set_wrong_reply_address(false);

  sim.set_drop_every(2);
  int answered = 0;
  for (int i = 0; i < 4; i++) {
    c.send({"/headamp/000/phantom", {}});
    answered += bool(c.receive(200));
  }
  EXPECT_EQ(answered, 2);
  sim.set_drop_every(0);

  // Garbage is recorded as such and does not stop the simulator.
  std::vector<uint8_t> junk = {0xFF, 0x00, 0x12};
  c.socket.send(c.desk, junk.data(), junk.size());
  c.send({"/status", {}});
  EXPECT_TRUE(c.receive());
  auto seen = sim.received();
  bool found_junk = false;
  for (auto& s : seen) found_junk |= s.bytes == junk && s.address.empty();
  EXPECT_TRUE(found_junk);
}

TEST(X32SimRules, RefusesAddressesOffLoopback) {
  X32Sim sim;
  X32Sim::Options o;
  o.address = "192.0.2.1";
  EXPECT_FALSE(sim.start(o));
  UdpSocket s;
  EXPECT_FALSE(s.open(0xC0000201, 0));
  uint32_t ip;
  EXPECT_FALSE(parse_loopback("10.0.0.1", &ip));
  EXPECT_FALSE(parse_loopback("127.0.0.1x", &ip));
  EXPECT_TRUE(parse_loopback("127.1.2.3", &ip));
  EXPECT_EQ(ip, 0x7F010203u);
}

TEST(X32SimOsc, WritesAndReadsItsOwnMessages) {
  auto b = osc_write({"/xremote", {}});
  EXPECT_EQ(
      b, (std::vector<uint8_t>{'/', 'x', 'r', 'e', 'm', 'o', 't', 'e', 0, 0, 0, 0, ',', 0, 0, 0}));
  b = osc_write({"/xinfo", {osc_s("a"), osc_i(-2), osc_f(1.5f)}});
  auto p = osc_read(b.data(), b.size());
  ASSERT_TRUE(p);
  ASSERT_EQ(p->args.size(), 3u);
  EXPECT_EQ(p->args[0].s, "a");
  EXPECT_EQ(p->args[1].i, -2);
  EXPECT_EQ(p->args[2].f, 1.5f);
  b.pop_back();
  EXPECT_FALSE(osc_read(b.data(), b.size()));
}

}  // namespace
}  // namespace ks::sim
