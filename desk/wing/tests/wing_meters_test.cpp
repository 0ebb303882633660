// The meter stream's thread against the simulated desk on loopback: subscription, renewal,
// levels reaching the slots, and recovery from a silent desk, a dropped connection, bad frames and
// frames from strangers.
// ks-test: lock=wing-desk-loopback,udp-2222 timeout=120
#include "desk/wing/wing_meters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_link.h"
#include "os/socket.h"
#include "os/tests/support/manual_clock.h"
#include "sim/wing/meters.h"
#include "sim/wing/wing_sim.h"

namespace ks {
namespace {

using sim::MeterSim;
using sim::MeterSubscriber;
using test::eventually;

DeskAnswer answer_for(uint32_t addr) {
  DeskAnswer a{};
  std::snprintf(a.ip, sizeof a.ip, "%s", format_ipv4(addr).c_str());
  return a;
}

// Real time for the meter thread to run a few passes.
void settle(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool has_subscriptions(const MeterSim& s, size_t n) {
  return s.wait_subscribers([n](const std::vector<MeterSubscriber>& v) { return v.size() >= n; },
                            5000);
}

uint32_t renewals_seen(const MeterSim& s) {
  uint32_t n = 0;
  for (const MeterSubscriber& m : s.subscribers()) n += m.renewals;
  return n;
}

// Natively each test has its own desk address. Under Wine a datagram sent from a socket bound to
// 127.0.0.x leaves from 127.0.0.1, so the in-process desk must live there for its frames to count
// as the desk's.
uint32_t desk_address(uint32_t native) {
#ifdef _WIN32
  return kLoopback;
#else
  return native;
#endif
}

class WingMetersTest : public ::testing::Test {
protected:
  void start_desk(uint32_t addr) {
    addr = desk_address(addr);
    addr_ = addr;
    ASSERT_TRUE(desk.listen(addr));
  }
  bool start_meters() {
    DeskAnswer a = answer_for(addr_);
    return wing_meters_start(&a);
  }
  // The stream's clock lives as long as the fixture, beyond the stop in TearDown.
  ManualClock& use_manual_clock(uint64_t start) {
    clock_ = std::make_unique<ManualClock>(start);
    wing_meters_set_clock(clock_.get());
    return *clock_;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& l : log.lines()) std::printf("  log: %s\n", l.c_str());
    wing_meters_stop();
    wing_meters_set_clock(nullptr);
    EXPECT_EQ(log.stuck(), 0u);
  }

  std::unique_ptr<ManualClock> clock_;
  test::DriverRecorder log;
  MeterSim desk;
  uint32_t addr_ = 0;
};

TEST_F(WingMetersTest, LevelsFromTheDeskReachTheSlots) {
  start_desk(0x7F0000A0);
  desk.set_level("LCL", 1, -12.5);
  desk.set_level("A", 48, 0.0);
  desk.set_level("USR", 56, -3.25);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));

  ASSERT_TRUE(has_subscriptions(desk, 1));
  MeterSubscriber s = desk.subscribers()[0];
  WingMeterStats st = wing_meters_stats();
  EXPECT_TRUE(s.well_formed);
  EXPECT_EQ(s.port, st.udp_port);
  EXPECT_EQ(s.id, st.id);
  EXPECT_GE(st.id, 32u);
  EXPECT_LE(st.id, 159u);

  double db = 0;
  ASSERT_TRUE(wing_meter_now("LCL", 1, &db));
  EXPECT_DOUBLE_EQ(db, -12.5);
  ASSERT_TRUE(wing_meter_now("usr", 56, &db));
  EXPECT_DOUBLE_EQ(db, -3.25);
  ASSERT_TRUE(wing_meter_peak("LCL", 1, &db));
  EXPECT_DOUBLE_EQ(db, -12.5);
  EXPECT_TRUE(wing_meter_clip("A", 48));
  EXPECT_FALSE(wing_meter_clip("LCL", 1));
  EXPECT_FALSE(wing_meter_now("LCL", 25, &db));
  uint32_t frames = wing_meter_frames();
  EXPECT_TRUE(eventually([&] { return wing_meter_frames() > frames + 3; }, 3000))
      << "frames keep coming";

  // A move at the desk shows; the peak holds the louder past.
  desk.set_level("LCL", 1, -40.0);
  ASSERT_TRUE(eventually([&] { return wing_meter_now("LCL", 1, &db) && db == -40.0; }, 3000));
  ASSERT_TRUE(wing_meter_peak("LCL", 1, &db));
  EXPECT_GT(db, -40.0);

  char connected[96];
  std::snprintf(connected, sizeof connected,
                "[nat] connected %s:2222, meters requested (12 source devices)",
                format_ipv4(addr_).c_str());
  EXPECT_EQ(log.count_containing(connected), 1);
  EXPECT_EQ(log.count_containing("[nat] meter socket on udp/" + std::to_string(st.udp_port)), 1);
  EXPECT_EQ(
      log.count_containing("[nat] meter data flowing: 896 bytes, 446 words, LCL 1 = -12.5 dB"), 1);

  wing_meters_stop();
  EXPECT_FALSE(wing_meters_flowing());
  EXPECT_FALSE(wing_meter_now("LCL", 1, &db)) << "no stale levels after stop";
  ASSERT_TRUE(desk.wait_subscribers([](auto& v) { return !v[0].open; }, 3000))
      << "connection closed at stop";
}

TEST_F(WingMetersTest, StartRefusesWhatItCannotUse) {
  EXPECT_FALSE(wing_meters_start(nullptr));
  DeskAnswer a{};
  EXPECT_FALSE(wing_meters_start(&a)) << "empty address";
  std::snprintf(a.ip, sizeof a.ip, "desk.local");
  EXPECT_FALSE(wing_meters_start(&a));
  std::memset(a.ip, '1', sizeof a.ip);  // no terminator inside the field
  EXPECT_FALSE(wing_meters_start(&a));
  EXPECT_FALSE(wing_meters_flowing());

  start_desk(0x7F0000A1);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(start_meters()) << "a second start is a no-op";
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
  EXPECT_EQ(desk.subscribers().size(), 1u);
}

TEST_F(WingMetersTest, RenewsEveryThreeSeconds) {
  ManualClock& clock = use_manual_clock(100000);
  start_desk(0x7F0000A2);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(has_subscriptions(desk, 1));
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));

  clock.advance(2999);
  settle(400);  // real time for the thread to run its passes
  EXPECT_EQ(renewals_seen(desk), 0u) << "not before 3000 ms";
  for (uint32_t want = 1; want <= 3; ++want) {
    clock.advance(1001);
    EXPECT_TRUE(eventually([&] { return renewals_seen(desk) == want; }, 3000)) << want;
    clock.advance(2000);
    settle(300);
    EXPECT_EQ(renewals_seen(desk), want) << "one renewal per period";
  }
  EXPECT_EQ(wing_meters_stats().renewals, 3u);
  EXPECT_TRUE(wing_meters_flowing());
  EXPECT_EQ(desk.subscribers().size(), 1u) << "renewals, not new subscriptions";
}

TEST_F(WingMetersTest, SilentDeskIsPrimedAndSubscribedAgain) {
  ManualClock& clock = use_manual_clock(5000);
  start_desk(0x7F0000A3);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));

  desk.update_faults([](sim::MeterFaults& f) { f.silent = true; });
  settle(300);  // let frames under way arrive
  clock.advance(5900);
  settle(300);
  EXPECT_EQ(log.count_containing("no meter data"), 0) << "not before 6 s";
  EXPECT_TRUE(wing_meters_flowing());
  clock.advance(200);
  ASSERT_TRUE(eventually(
      [&] { return log.count_containing("[nat] no meter data for 6 s, re-priming") == 1; }, 3000));
  EXPECT_FALSE(wing_meters_flowing());
  double db;
  EXPECT_FALSE(wing_meter_now("LCL", 1, &db)) << "no levels from a stalled stream";
  ASSERT_TRUE(desk.wait_subscribers([](auto& v) { return v.size() >= 2 && !v[0].open; }, 5000))
      << "subscribed afresh on a new connection";
  std::vector<MeterSubscriber> subs = desk.subscribers();
  EXPECT_FALSE(subs[0].open);
  EXPECT_EQ(subs[1].port, subs[0].port);
  EXPECT_EQ(subs[1].id, subs[0].id);

  desk.update_faults([](sim::MeterFaults& f) { f.silent = false; });
  EXPECT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
}

TEST_F(WingMetersTest, DroppedConnectionIsSubscribedAgain) {
  ManualClock& clock = use_manual_clock(5000);
  start_desk(0x7F0000A4);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
  desk.drop_connections();
  ASSERT_TRUE(eventually(
      [&] { return log.count_containing("meter connection closed by the desk") == 1; }, 3000));
  EXPECT_FALSE(wing_meters_flowing());
  // At most one set-up per 3 s.
  ASSERT_TRUE(clock.wait_for_waiters(1));
  EXPECT_EQ(desk.subscribers().size(), 1u);
  clock.advance(3000);
  ASSERT_TRUE(has_subscriptions(desk, 2));
  EXPECT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
  EXPECT_EQ(wing_meters_stats().subscriptions, 2u);
}

TEST_F(WingMetersTest, WrongSizedFramesShowNoLevelsAndAreLoggedThreeTimes) {
  start_desk(0x7F0000A5);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
  desk.update_faults([](sim::MeterFaults& f) { f.frame_size = 892; });
  ASSERT_TRUE(eventually(
      [] { return !wing_meters_flowing() && wing_meters_stats().wrong_size >= 6; }, 5000));
  double db;
  EXPECT_FALSE(wing_meter_now("LCL", 1, &db));
  EXPECT_EQ(
      log.count_containing(
          "[nat] meter frame is 892 bytes, expected 896 - channel counts have changed (sample rate or "
          "card?). Not decoding rather than showing wrong levels."),
      3);
  EXPECT_EQ(log.count_containing("no meter data"), 0) << "the desk is still talking to us";
  desk.update_faults([](sim::MeterFaults& f) { f.frame_size = 896; });
  EXPECT_TRUE(eventually([] { return wing_meters_flowing(); }, 3000));
}

TEST_F(WingMetersTest, FramesForAnotherSubscriptionAreDropped) {
  start_desk(0x7F0000A6);
  desk.update_faults([](sim::MeterFaults& f) { f.id_offset = 1; });
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_stats().wrong_id >= 5; }, 5000));
  EXPECT_FALSE(wing_meters_flowing());
  EXPECT_EQ(wing_meter_frames(), 0u);
  EXPECT_EQ(log.count_containing("ours is"), 3);
}

TEST_F(WingMetersTest, FramesFromStrangersAreDropped) {
#ifdef _WIN32
  GTEST_SKIP()
      << "under Wine every in-process sender shows as 127.0.0.1: strangers are told apart natively";
#endif
  start_desk(0x7F0000A7);
  desk.set_level("LCL", 1, -30.0);
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_flowing(); }, 5000));
  WingMeterStats st = wing_meters_stats();

  // A well-formed frame for our id at full level, from another address on the network.
  std::vector<uint8_t> forged(896, 0);
  forged[3] = uint8_t(st.id);
  for (size_t i = 4; i < forged.size(); i += 2) forged[i] = 0x06;  // +6 dB everywhere
  Socket stranger = Socket::udp();
  ASSERT_TRUE(stranger.bind(Endpoint{0x7F0000C8, 0}));
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(stranger.send_to(forged.data(), forged.size(), Endpoint{kLoopback, st.udp_port}),
              896);
    settle(10);
  }
  ASSERT_TRUE(eventually([] { return wing_meters_stats().foreign >= 20; }, 3000));
  double db = 0;
  ASSERT_TRUE(wing_meter_now("LCL", 1, &db));
  EXPECT_DOUBLE_EQ(db, -30.0);
  EXPECT_FALSE(wing_meter_clip("LCL", 1));
  EXPECT_EQ(log.count_containing("not the desk - dropped"), 3);
}

TEST_F(WingMetersTest, StopDuringAHangingConnectIsPrompt) {
  // A desk whose accept queue is full: the connect neither succeeds nor fails for 2 s.
  const uint32_t addr = desk_address(0x7F0000A8);
  Socket listener = Socket::tcp();
  ASSERT_TRUE(listener.bind(Endpoint{addr, 2222}));
  ASSERT_TRUE(listener.listen(0));
  std::vector<Socket> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(Socket::tcp());
    fillers.back().set_nonblocking(true);
    fillers.back().connect(Endpoint{addr, 2222}, 50);
  }
  addr_ = addr;
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return wing_meters_stats().udp_port != 0; }, 3000));
  settle(300);  // now inside the connect wait
  ASSERT_EQ(wing_meters_stats().subscriptions, 0u) << "the connect must still be pending";
  uint64_t t0 = test::now_ms();
  wing_meters_stop();
  EXPECT_LT(test::now_ms() - t0, 1000u);
  EXPECT_EQ(log.stuck(), 0u);
  EXPECT_TRUE(start_meters()) << "a clean stop allows a new start";
}

TEST_F(WingMetersTest, MetersRideBesideTheControlLinkOnTheSamePort) {
  sim::WingSim wing;
  const uint32_t addr = desk_address(0x7F0000A9);
  ASSERT_TRUE(wing.start(addr));
  addr_ = addr;
  wing.meters().set_level("A", 3, -18.0);
  ASSERT_TRUE(link_start(format_ipv4(addr).c_str(), nullptr));
  ASSERT_TRUE(start_meters());
  ASSERT_TRUE(eventually([] { return link_alive() && wing_meters_flowing(); }, 5000));
  EXPECT_EQ(wing.connections(), 2) << "one control connection, one meter connection";
  double db = 0;
  ASSERT_TRUE(wing_meter_now("A", 3, &db));
  EXPECT_DOUBLE_EQ(db, -18.0);
  EXPECT_TRUE(wing.records().empty()) << "the subscription is not read as control requests";
  EXPECT_EQ(wing.junk_bytes(), 0u);

  // The desk restarts its connections: both come back, the meters on a new subscription.
  wing.drop_connections();
  ASSERT_TRUE(eventually([] { return !wing_meters_flowing(); }, 3000));
  ASSERT_TRUE(eventually([] { return link_alive() && wing_meters_flowing(); }, 8000));
  EXPECT_EQ(wing_meters_stats().subscriptions, 2u);
  EXPECT_EQ(wing.meters().subscribers().size(), 2u);
  link_stop();
  wing_meters_stop();
  wing.stop();
}

}  // namespace
}  // namespace ks
