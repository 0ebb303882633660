// The simulator's meter stream on its own, spoken to with bytes written here: it must read a
// subscription whatever its port, send frames only while renewed, and misbehave when told.
// ks-test: timeout=60
#include "sim/wing/meters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "os/socket.h"

namespace ks::sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSimAddr = 0x7F00003D;  // 127.0.0.61, this test's own

// A subscription as the driver sends it, escaped here by hand.
Bytes subscription(uint16_t port, uint32_t id) {
  Bytes raw = {0xD3,
               uint8_t(port >> 8),
               uint8_t(port),
               0xD4,
               uint8_t(id >> 24),
               uint8_t(id >> 16),
               uint8_t(id >> 8),
               uint8_t(id),
               0xDC,
               0xA7};
  for (uint8_t g = 0; g < 12; ++g) raw.push_back(g);
  raw.push_back(0xDE);
  Bytes out = {0xDF, 0xD3};
  for (uint8_t b : raw) {
    out.push_back(b);
    if (b == 0xDF) out.push_back(0xDE);
  }
  return out;
}

Bytes renewal(uint32_t id) {
  return {0xD4, uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)};
}

struct Client {
  Socket udp, tcp;
  uint16_t port = 0;

  // A UDP port whose bytes include 0xDF, so the sim has to un-escape the port.
  bool open() {
    for (uint16_t p = 0xDF10; p < 0xDF60; ++p) {
      udp = Socket::udp();
      if (udp.bind(Endpoint{kLoopback, p})) {
        port = p;
        break;
      }
    }
    tcp = Socket::tcp();
    return port != 0 && tcp.connect(Endpoint{kSimAddr, 2222}, 2000);
  }
  bool send(const Bytes& b) { return tcp.send_all(b.data(), b.size(), 1000); }
  // The next datagram, or empty after `ms`.
  Bytes receive(uint32_t ms, Endpoint* from = nullptr) {
    Bytes b(2048);
    int n = udp.recv_from(b.data(), b.size(), from, ms);
    b.resize(n > 0 ? size_t(n) : 0);
    return b;
  }
};

class MeterSimTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(sim.listen(kSimAddr)); }
  MeterSim sim;
};

TEST_F(MeterSimTest, SubscriptionGetsFramesOfItsLevels) {
  ASSERT_TRUE(sim.set_level("LCL", 1, -12.5));
  ASSERT_TRUE(sim.set_level("USR", 56, 3.0));
  EXPECT_FALSE(sim.set_level("LCL", 25, 0.0));
  EXPECT_FALSE(sim.set_level("BUS", 1, 0.0));
  Client c;
  ASSERT_TRUE(c.open());
  // Sent in two pieces, split inside an escaped pair.
  Bytes sub = subscription(c.port, 77);
  ASSERT_TRUE(c.send(Bytes(sub.begin(), sub.begin() + 4)));
  ASSERT_TRUE(c.send(Bytes(sub.begin() + 4, sub.end())));
  ASSERT_TRUE(sim.wait_subscribers([](auto& s) { return !s.empty(); }, 2000));
  MeterSubscriber s = sim.subscribers()[0];
  EXPECT_EQ(s.port, c.port);
  EXPECT_EQ(s.id, 77u);
  EXPECT_TRUE(s.well_formed);

  Endpoint from{};
  Bytes f = c.receive(2000, &from);
  ASSERT_EQ(f.size(), 896u);
#ifndef _WIN32  // under Wine a bound 127.0.0.x socket sends from 127.0.0.1
  EXPECT_EQ(from.addr, kSimAddr) << "frames leave from the desk's own address";
#endif
  EXPECT_EQ(f[0] << 24 | f[1] << 16 | f[2] << 8 | f[3], 77);
  EXPECT_EQ(int16_t(f[4] << 8 | f[5]), int16_t(-12.5 * 256));
  EXPECT_EQ(int16_t(f[894] << 8 | f[895]), int16_t(3 * 256));
  EXPECT_EQ(int16_t(f[6] << 8 | f[7]), int16_t(-90 * 256)) << "LCL 2 at the default level";
  EXPECT_EQ(sim.junk_bytes(), 0u);
}

TEST_F(MeterSimTest, UnrenewedSubscriptionStopsAndRenewalKeepsItAlive) {
  sim.update_faults([](MeterFaults& f) { f.lifetime_ms = 600; });
  Client c;
  ASSERT_TRUE(c.open());
  ASSERT_TRUE(c.send(subscription(c.port, 40)));
  ASSERT_EQ(c.receive(2000).size(), 896u);
  for (int i = 0; i < 4; ++i) {  // 1.6 s of renewals, each inside the lifetime
    ASSERT_TRUE(c.send(renewal(40)));
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    int frames = 0;
    while (std::chrono::steady_clock::now() < until)
      if (c.receive(100).size() == 896) ++frames;
    EXPECT_GE(frames, 2) << "after renewal " << i;
  }
  ASSERT_TRUE(
      sim.wait_subscribers([](auto& s) { return s.size() == 1 && s[0].renewals == 4; }, 2000));
  ASSERT_TRUE(c.send(renewal(41)));  // another id renews nothing
  // Without a renewal the frames stop within the lifetime; drain what was under way.
  uint32_t late = 0;
  while (!c.receive(800).empty()) ++late;
  EXPECT_LT(late, 30u);
  EXPECT_TRUE(c.receive(300).empty());
  EXPECT_GE(sim.junk_bytes(), 5u);
}

TEST_F(MeterSimTest, FaultModes) {
  Client c;
  ASSERT_TRUE(c.open());
  ASSERT_TRUE(c.send(subscription(c.port, 90)));
  ASSERT_EQ(c.receive(2000).size(), 896u);

  sim.update_faults([](MeterFaults& f) { f.frame_size = 892; });
  Bytes f;
  for (int i = 0; i < 20 && f.size() != 892; ++i) f = c.receive(500);
  EXPECT_EQ(f.size(), 892u);

  sim.update_faults([](MeterFaults& f) {
    f.frame_size = 896;
    f.id_offset = 1;
  });
  for (int i = 0; i < 20 && !(f.size() == 896 && f[3] == 91); ++i) f = c.receive(500);
  ASSERT_EQ(f.size(), 896u);
  EXPECT_EQ(f[3], 91);

  sim.update_faults([](MeterFaults& f) {
    f.id_offset = 0;
    f.silent = true;
  });
  while (!c.receive(300).empty()) {}
  EXPECT_TRUE(c.receive(300).empty());
}

TEST_F(MeterSimTest, MalformedSubscriptionAndDroppedConnectionSendNothing) {
  Client c;
  ASSERT_TRUE(c.open());
  Bytes sub = subscription(c.port, 50);
  sub[sub.size() - 1] = 0xDD;  // wrong end mark
  ASSERT_TRUE(c.send(sub));
  ASSERT_TRUE(sim.wait_subscribers([](auto& s) { return !s.empty(); }, 2000));
  EXPECT_FALSE(sim.subscribers()[0].well_formed);
  EXPECT_TRUE(c.receive(300).empty());

  Client d;
  ASSERT_TRUE(d.open());
  ASSERT_TRUE(d.send(subscription(d.port, 51)));
  ASSERT_EQ(d.receive(2000).size(), 896u);
  sim.drop_connections();
  ASSERT_TRUE(sim.wait_subscribers([](auto& s) { return s.size() == 2 && !s[1].open; }, 2000));
  uint8_t b[16];
  EXPECT_LE(d.tcp.recv(b, sizeof b, 2000), 0) << "the connection is closed";
  while (!d.receive(200).empty()) {}
  EXPECT_TRUE(d.receive(300).empty());
}

TEST(MeterSimCommands, ControlPortLines) {
  MeterSim sim;
  struct Case {
    const char* verb;
    const char* args;
    const char* reply;
  } cases[] = {
      {"meter", "LCL 1 -6.5", "ok"},
      {"meter", "USR 56 0", "ok"},
      {"meter", "LCL 25 0", "err no such meter"},
      {"meter", "LCL x 0", "err usage: meter <bank> <n> <dB>"},
      {"meter", "", "err usage: meter <bank> <n> <dB>"},
      {"meterfault", "silent on", "ok"},
      {"meterfault", "silent maybe", "err unknown meter fault or value"},
      {"meterfault", "size 892", "ok"},
      {"meterfault", "size 9999", "err unknown meter fault or value"},
      {"meterfault", "size -1", "err unknown meter fault or value"},
      {"meterfault", "id 3", "ok"},
      {"meterfault", "loud 1", "err unknown meter fault or value"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sim.command(c.verb, c.args), c.reply) << c.verb << " " << c.args;
  std::vector<MeterSubscriber> none = sim.subscribers();
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(sim.command("meterfault", "clear"), "ok");
}

}  // namespace
}  // namespace ks::sim
