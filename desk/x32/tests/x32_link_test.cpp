// The driver against the simulated desk, over loopback: reads and writes with exact bytes, desk
// changes, hostile and foreign datagrams, the one-query-in-flight rule, bursts, reseeds, the
// patch and head-amp-type slots, the head-amp link and a prompt disconnect while the desk is mute.
// ks-test: lock=udp10023 timeout=120
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ranges>
#include <thread>

#include "desk/x32/tests/support/x32_recorders.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "desk/x32/x32_tables.h"
#include "sim/x32/x32_sim.h"

namespace ks {
namespace {

using sim::osc_f;
using sim::osc_i;
using sim::osc_s;
using Clock = std::chrono::steady_clock;

const std::string kDeskText = test::x32_test_address(21);
const char* const kDesk = kDeskText.c_str();

int ms_since(Clock::time_point t) {
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class X32Link : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::X32Sim::Options o;
    o.address = kDesk;
    o.model = "X32RACK";
    ASSERT_TRUE(sim.start(o));
    DeskAnswer a{};
    std::snprintf(a.identity, sizeof a.identity, "X32,%s,Sim X32,X32RACK,4.06", kDesk);
    x32_adopt(&a);
    ASSERT_TRUE(x32_connect(kDesk));
    ASSERT_TRUE(rec.wait_for([] { return x32_link_alive(); }, 3000));
    ASSERT_TRUE(sim.wait_for([&] { return sim.subscribers().size() == 1; }, 3000));
  }
  void TearDown() override {
    auto t = Clock::now();
    x32_disconnect();
    EXPECT_LT(ms_since(t), 1000);
    sim.stop();
  }
  std::vector<uint8_t> last_from_driver(const std::string& address) {
    for (auto& r : sim.received() | std::views::reverse)
      if (r.address == address) return r.bytes;
    return {};
  }
  bool has_event(const std::string& bank, int n, const std::string& kind) {
    for (auto& e : rec.events())
      if (e.bank == bank && e.n == n && e.kind == kind) return true;
    return false;
  }

  test::X32Recorder rec;
  sim::X32Sim sim;
};

// LV1's writes never wait: one that meets another send on its way is taken at a later try (the
// framework defers it to the watcher's next pass).
template <class Send>
bool taken_soon(Send send) {
  for (int i = 0; i < 50; ++i) {
    if (send()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(X32Link, ReadsAndWritesHeadAmpsWithExactBytes) {
  double db = 0;
  ASSERT_TRUE(x32_read_gain("AN", 1, &db));
  EXPECT_EQ(db, 6.0);  // the simulator starts every head amp at 0.25
  sim.put("/headamp/032/gain", osc_f(0.5f));
  ASSERT_TRUE(x32_read_gain("A", 1, &db));
  EXPECT_EQ(db, 24.0);

  ASSERT_TRUE(taken_soon([] { return x32_send_gain("A", 1, 0.0); }));
  ASSERT_TRUE(taken_soon([] { return x32_send_phantom("B", 48, 1); }));
  ASSERT_TRUE(sim.wait_for([&] { return sim.headamp_phantom(127) == 1; }, 3000));
  EXPECT_EQ(sim.headamp_gain(32), 12.0f / 72.0f);
  EXPECT_EQ(last_from_driver("/headamp/032/gain"),
            (std::vector<uint8_t>{'/', 'h', 'e', 'a', 'd', 'a', 'm', 'p', '/', '0', '3', '2', '/', 'g', 'a', 'i', 'n', 0,
                                  0, 0, ',', 'f', 0, 0, 0x3E, 0x2A, 0xAA, 0xAB}));
  EXPECT_EQ(last_from_driver("/headamp/127/phantom").size(), 32u);

  uint8_t on = 0, valid = 0;
  ASSERT_TRUE(x32_read_preamp("B", 48, &db, &on, &valid));
  EXPECT_EQ(on, 1);
  EXPECT_EQ(valid, 1);
  ASSERT_TRUE(taken_soon([] { return x32_send_gain("AN", 32, 70.0); }));
  ASSERT_TRUE(sim.wait_for([&] { return sim.headamp_gain(31) == 1.0f; }, 3000));

  // Inputs without a head amp: nothing is sent.
  uint32_t before = x32_sent_count();
  EXPECT_FALSE(x32_read_gain("AN", 33, &db));
  EXPECT_FALSE(x32_read_gain("A", 49, &db));
  EXPECT_FALSE(x32_send_gain("CRD", 1, 0));
  EXPECT_FALSE(x32_send_phantom("B", 0, 1));
  EXPECT_EQ(x32_sent_count(), before);
}

TEST_F(X32Link, GainsFromTheDeskThatAreNotGainsNeverArrive) {
  sim.put("/headamp/003/gain", osc_f(NAN));
  double db = -99;
  EXPECT_FALSE(x32_read_gain("AN", 4, &db));
  sim.put("/headamp/003/gain", osc_f(2.0f));
  EXPECT_FALSE(x32_read_gain("AN", 4, &db));
  sim.put("/headamp/003/gain", osc_i(1));  // wrong type
  EXPECT_FALSE(x32_read_gain("AN", 4, &db));
  EXPECT_EQ(db, -99);
}

TEST_F(X32Link, DeskChangesBecomeEvents) {
  sim.desk_change("/headamp/005/gain", osc_f(0.5f));
  sim.desk_change("/headamp/080/phantom", osc_i(1));
  ASSERT_TRUE(rec.wait_for([&] { return has_event("B", 1, "vph"); }, 3000));
  bool found_gain = false;
  for (auto& e : rec.events()) {
    if (e.kind == "g" && e.bank == "AN" && e.n == 6) {
      found_gain = true;
      EXPECT_EQ(e.value, 24.0);
    }
    if (e.kind == "vph") {
      EXPECT_EQ(e.flag, 1);
    }
  }
  EXPECT_TRUE(found_gain);
}

TEST_F(X32Link, HostileAndForeignDatagramsAreDroppedAndCounted) {
  std::vector<std::vector<uint8_t>> junk = {
      {},
      {0xFF, 0xFF, 0xFF, 0xFF},
      {'/', 'a', 0},
      sim::osc_write({"/headamp/000/gain", {osc_f(NAN)}}),
      sim::osc_write({"/headamp/001/gain", {osc_f(5.0f)}}),
      sim::osc_write({"/headamp/128/gain", {osc_f(0.5f)}}),
      sim::osc_write({"/headamp/-1/gain", {osc_f(0.5f)}}),
      sim::osc_write({"/headamp/0a1/gain", {osc_f(0.5f)}}),
      sim::osc_write({"/headamp/0000/gain", {osc_f(0.5f)}}),
      sim::osc_write({"/headamp/002/gainx", {osc_f(0.5f)}}),
      sim::osc_write({"/headamp/002/gain", {osc_s("loud")}}),
      sim::osc_write({"/config/userrout/out/49", {osc_i(3)}}),
      sim::osc_write({"/config/userrout/out/00", {osc_i(3)}}),
  };
  std::vector<uint8_t> blob = {'/', 'b', 0, 0, ',', 'b', 0, 0, 0x7F, 0xFF, 0xFF, 0xFF};
  junk.push_back(blob);
  std::vector<uint8_t> huge(4000, 'x');
  huge[0] = '/';
  junk.push_back(huge);
  uint32_t dropped = x32_dropped_count();
  for (auto& d : junk) sim.send_raw_to_subscribers(d);

  // The same valid push from another port of the desk's address, and from another address.
  sim::UdpSocket other;
  uint32_t ip;
  sim::parse_loopback(kDesk, &ip);
  ASSERT_TRUE(other.open(ip, 0));
  sim::UdpPeer driver = sim.subscribers().at(0);
  auto forged = sim::osc_write({"/headamp/010/gain", {osc_f(1.0f)}});
  ASSERT_TRUE(other.send(driver, forged.data(), forged.size()));
  sim::UdpSocket stranger;
  sim::parse_loopback(test::x32_several_desks() ? "127.0.0.99" : "127.0.0.1", &ip);
  ASSERT_TRUE(stranger.open(ip, 0));
  ASSERT_TRUE(stranger.send(driver, forged.data(), forged.size()));

  // A valid change afterwards still gets through, and is the only event.
  sim.desk_change("/headamp/007/phantom", osc_i(1));
  ASSERT_TRUE(rec.wait_for([&] { return has_event("AN", 8, "vph"); }, 2000));
  EXPECT_EQ(x32_dropped_count() - dropped, 5u);  // empty, junk, unaligned, bad blob, too large
  EXPECT_GE(x32_foreign_count(), 2u);
  for (auto& e : rec.events()) {
    EXPECT_TRUE(e.kind == "vph" && e.n == 8) << e.kind << " " << e.bank << e.n;
  }
  double db;
  EXPECT_TRUE(x32_read_gain("AN", 11, &db));
  EXPECT_EQ(db, 6.0);  // the forged 1.0 never reached the driver's view either
}

TEST_F(X32Link, AReplyAtAnotherAddressIsAPushAndTheQueryTimesOut) {
  // Once the connection's own questions are done, this query is the only one in flight.
  ASSERT_TRUE(rec.wait_for([&] { return rec.has_line("[x32] facts: /config/linkcfg/hadly"); }, 4000));
  sim.set_wrong_reply_address(true);
  uint32_t events = x32_event_count();
  auto t = Clock::now();
  double db;
  EXPECT_FALSE(x32_read_gain("AN", 1, &db));
  int took = ms_since(t);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 1000);
  EXPECT_TRUE(rec.wait_for([&] { return x32_event_count() > events; }, 500));
}

TEST_F(X32Link, ALateReplyNeverAnswersTheNextQueryNorArrivesAsAPush) {
  sim.put("/headamp/000/gain", osc_f(0.0f));   // -12 dB
  sim.put("/headamp/001/gain", osc_f(1.0f));   // +60 dB
  sim.set_reply_delay_ms(350, "/headamp/000/gain");
  const uint32_t before = x32_late_replies_dropped();
  double db = 0;
  EXPECT_FALSE(x32_read_gain("AN", 1, &db));
  // The first answer arrives while the second question waits: it must not be taken for it.
  ASSERT_TRUE(x32_read_gain("AN", 2, &db));
  EXPECT_EQ(db, 60.0);
  sim.set_reply_delay_ms(0);
  // The late reply to the first question is what the desk held then, not a change at the desk:
  // it is dropped, and a real change of the same head amp afterwards still arrives.
  ASSERT_TRUE(rec.wait_for([&] { return x32_late_replies_dropped() > before; }, 3000));
  EXPECT_FALSE(has_event("AN", 1, "g"));
  sim.desk_change("/headamp/000/gain", osc_f(0.5f));
  ASSERT_TRUE(rec.wait_for([&] { return has_event("AN", 1, "g"); }, 3000));
  for (auto& e : rec.events())
    if (e.kind == "g" && e.n == 1) EXPECT_EQ(e.value, 24.0);
}

// A desk that froze, queued the queries and then answered them all at once with a value changed
// meanwhile: the late replies (ours and the poll thread's) are dropped, none becomes an event.
TEST_F(X32Link, AFrozenDeskAnsweringEverythingAtOnceGivesNoEvents) {
  sim.put("/headamp/002/gain", osc_f(0.25f));
  uint32_t before = x32_late_replies_dropped();
  sim.set_frozen(true);
  double db = 0;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(x32_read_gain("AN", 3, &db));
  sim.put("/headamp/002/gain", osc_f(0.75f));  // moved at the desk while it was frozen
  sim.set_frozen(false);
  ASSERT_TRUE(rec.wait_for([&] { return x32_late_replies_dropped() >= before + 3; }, 3000))
      << x32_late_replies_dropped() - before;
  EXPECT_FALSE(has_event("AN", 3, "g"));
  ASSERT_TRUE(x32_read_gain("AN", 3, &db));
  EXPECT_EQ(db, 42.0) << "a fresh read gets the desk's value";
}

TEST_F(X32Link, QueriesFromSeveralThreadsEachGetTheirOwnAnswer) {
  for (int i = 0; i < 8; i++) sim.put("/headamp/" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + "/gain",
                                      osc_f(float(i) / 8.0f));
  std::atomic<int> wrong{0}, failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 10; k++) {
        int i = (t + k) % 8;
        double db;
        if (!x32_read_gain("AN", i + 1, &db)) {
          failed++;
        } else if (std::fabs(db - (i / 8.0 * 72 - 12)) > 1e-4) {
          wrong++;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(failed, 0);
}

TEST_F(X32Link, SceneLoadBurstLeadsToOneReread) {
  char bank[8];
  uint32_t n;
  ASSERT_TRUE(x32_read_source("CRD", 1, bank, sizeof bank, &n));
  int block_reads = sim.count("/config/routing/CARD/1-8");
  rec.clear();
  sim.scene_load(200, 300);
  auto last_push = Clock::now();
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$reread") > 0; }, 3000));
  int after = ms_since(last_push);
  EXPECT_GE(after, 690);
  EXPECT_LT(after, 1500);
  EXPECT_TRUE(rec.has_line("[x32] a burst of changes (a scene load or reset?) - re-reading the patch and preamps"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(rec.count_kind("$reread"), 1);
  // The patch cache was dropped: the next read asks the desk again.
  ASSERT_TRUE(x32_read_source("CRD", 1, bank, sizeof bank, &n));
  EXPECT_EQ(sim.count("/config/routing/CARD/1-8"), block_reads + 1);
}

TEST_F(X32Link, SteadyChangesAndStatusRepliesAreNoBurst) {
  rec.clear();
  for (int i = 0; i < 140; i++) sim.desk_change("/headamp/001/gain", osc_f(0.5f));
  for (int i = 0; i < 100; i++) sim.send_raw_to_subscribers(sim::osc_write({"/status", {osc_s("active")}}));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(rec.count_kind("$reread"), 0);
}

TEST_F(X32Link, AGainWriteIsFollowedByAReseed) {
  rec.clear();
  auto t = Clock::now();
  ASSERT_TRUE(taken_soon([&] {
    t = Clock::now();
    return x32_send_gain("AN", 1, 3.0);
  }));
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$reseed") > 0; }, 2000));
  int took = ms_since(t);
  EXPECT_GE(took, 795);
  EXPECT_LT(took, 1500);
  for (auto& e : rec.events()) {
    if (e.kind == "$reseed") {
      EXPECT_EQ(e.bank, "");
    }
  }
}

TEST_F(X32Link, CardPatchThroughBlocksAndUserRouting) {
  sim.put("/config/routing/CARD/9-16", osc_i(5));
  sim.put("/config/routing/CARD/1-8", osc_i(26));     // user outputs 1-8
  sim.put("/config/userrout/out/03", osc_i(40));      // -> A 8
  sim.put("/config/userrout/out/04", osc_i(0));       // nothing
  sim.put("/config/routing/CARD/17-24", osc_i(20));   // not a preamp block
  sim.put("/config/routing/CARD/25-32", osc_s("x"));  // not a number
  struct Case {
    uint32_t card;
    bool ok;
    std::string bank;
    uint32_t n;
  };
  std::vector<Case> cases = {{12, true, "A", 12},  {3, true, "A", 8},   {4, true, "OUT", 4},
                             {17, true, "OUT", 17}, {25, false, "", 0}, {33, true, "OFF", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.card);
    char bank[8] = "?";
    uint32_t n = 0;
    EXPECT_EQ(x32_read_source("CRD", c.card, bank, sizeof bank, &n), c.ok);
    if (c.ok) {
      EXPECT_EQ(bank, c.bank);
      EXPECT_EQ(n, c.n);
    }
  }
  EXPECT_TRUE(rec.has_line("[x32] /config/routing/CARD/25-32 answered a s, not a number - patch not read"));
  EXPECT_TRUE(rec.has_line("[x32] /config/userrout/out/03 = 40 (A 8) -> card 3"));

  // A change of a user-routing entry at the desk re-announces the user-routed block.
  rec.clear();
  sim.desk_change("/config/userrout/out/03", osc_i(41));
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("grp") == 8; }, 3000));
  for (auto& e : rec.events()) {
    EXPECT_TRUE(e.bank == "CRD" && e.n >= 1 && e.n <= 8);
  }
  char bank[8];
  uint32_t n;
  ASSERT_TRUE(x32_read_source("CRD", 3, bank, sizeof bank, &n));
  EXPECT_EQ(n, 9u);

  rec.clear();
  sim.desk_change("/config/routing/CARD/9-16", osc_i(0));
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("grp") == 8; }, 3000));
  ASSERT_TRUE(x32_read_source("CRD", 12, bank, sizeof bank, &n));
  EXPECT_EQ(std::string(bank) + std::to_string(n), "AN4");
}

TEST_F(X32Link, HeadAmpTypesFromTheModelAndTheAes50Status) {
  uint32_t type = 99;
  ASSERT_TRUE(x32_headamp_type("AN", 16, &type));
  EXPECT_EQ(type, 3u);  // an X32 Rack: local preamps on 1-16 only
  ASSERT_TRUE(x32_headamp_type("AN", 17, &type));
  EXPECT_EQ(type, 0u);
  // A stage box arriving shows in the AES50 status as "$ha" for the inputs whose digit moved.
  ASSERT_TRUE(x32_headamp_type("A", 1, &type));  // the status as it was is known first
  EXPECT_EQ(type, 0u);
  rec.clear();
  sim.desk_change("/-stat/aes50/A", osc_s("DL16330000"));
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$ha") == 16; }, 1500));
  for (auto& e : rec.events()) {
    if (e.kind == "$ha") {
      EXPECT_TRUE(e.bank == "A" && e.n >= 1 && e.n <= 16);
    }
  }
  ASSERT_TRUE(x32_headamp_type("A", 9, &type));
  EXPECT_EQ(type, 4u);
  ASSERT_TRUE(x32_headamp_type("A", 17, &type));
  EXPECT_EQ(type, 0u);
  EXPECT_FALSE(x32_headamp_type("C", 1, &type));
  EXPECT_FALSE(x32_headamp_type("A", 49, &type));
  EXPECT_EQ(x32_aes50_port_present("A"), 1);

  rec.clear();
  sim.desk_change("/-stat/aes50/A", osc_s("    000000"));
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$ha") == 16; }, 1500));
  EXPECT_EQ(x32_aes50_port_present("A"), 0);
  sim.desk_change("/-stat/aes50/B", osc_s("DL32111111"));
  ASSERT_TRUE(rec.wait_for([&] { return x32_aes50_port_present("B") == 1; }, 1500));
  EXPECT_EQ(x32_aes50_port_present("C"), -1);
}

TEST_F(X32Link, HeadAmpLinkIsReadWhenTheDeskChangesIt) {
  char bank[8];
  int32_t n = 0;
  ASSERT_TRUE(rec.wait_for([&] { return x32_ha_link_partner("AN", 1, bank, sizeof bank, &n) == 0; }, 3000));
  EXPECT_TRUE(rec.has_line("[x32] HA link off - no head amp is mirrored"));

  sim.put("/config/chlink/1-2", osc_i(1));
  sim.put("/-ha/01/index", osc_i(32));  // channel 1 from A 1
  sim.put("/-ha/02/index", osc_i(33));  // channel 2 from A 2
  sim.desk_change("/config/linkcfg/hadly", osc_i(1));
  ASSERT_TRUE(rec.wait_for([&] { return x32_ha_link_partner("A", 1, bank, sizeof bank, &n) == 1; }, 3000));
  EXPECT_STREQ(bank, "A");
  EXPECT_EQ(n, 2);
  ASSERT_EQ(x32_ha_link_partner("A", 2, bank, sizeof bank, &n), 1);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(x32_ha_link_partner("AN", 3, bank, sizeof bank, &n), 0);
  EXPECT_TRUE(rec.has_line("[x32] HA link ON - linked pairs share 48V and gain: ch1-2=A 1+A 2"));
}

TEST_F(X32Link, StatusFactsAreLoggedOncePerConnection) {
  ASSERT_TRUE(rec.wait_for([&] { return rec.has_line("[x32] facts: /config/linkcfg/hadly ,i = 0"); }, 4000));
  EXPECT_TRUE(rec.has_line("[x32] facts: /-stat/xcardtype ,i = 11"));
  EXPECT_TRUE(rec.has_line("[x32] facts: /-stat/aes50/A ,s = \"    000000\""));
}

TEST(X32LinkSilentDesk, DisconnectIsPromptWhileTheDeskSaysNothing) {
  test::X32Recorder rec;
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  std::string address = test::x32_test_address(22);
  o.address = address;
  ASSERT_TRUE(sim.start(o));
  sim.set_silent(true);
  int stuck = test::X32Recorder::stuck_reports();
  for (int delay : {0, 150, 450, 1300}) {
    SCOPED_TRACE(delay);
    ASSERT_TRUE(x32_connect(address.c_str()));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    EXPECT_FALSE(x32_link_alive());
    double db;
    EXPECT_FALSE(x32_read_gain("AN", 1, &db));
    auto t = Clock::now();
    x32_disconnect();
    EXPECT_LT(ms_since(t), 700);  // at most one query's wait, never the whole sequence
  }
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck);
  EXPECT_FALSE(x32_linked());
  double db;
  EXPECT_FALSE(x32_read_gain("AN", 1, &db));  // no link, no query
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

// The desk forgets a client 10 s after its last "/xremote"; the driver renews well before, and
// stops calling the desk alive 15 s after it last heard from it.
TEST_F(X32Link, SubscriptionIsRenewedAndSilenceEndsTheLink) {
  auto t0 = Clock::now();
  ASSERT_TRUE(sim.wait_for([&] { return sim.count("/xremote") >= 2; }, 9500));
  int renewed_after = ms_since(t0);
  EXPECT_LT(renewed_after, 9500);
  EXPECT_EQ(sim.subscribers().size(), 1u);
  // Still subscribed: a change at the desk still arrives.
  sim.desk_change("/headamp/009/phantom", osc_i(1));
  ASSERT_TRUE(rec.wait_for([&] { return has_event("AN", 10, "vph"); }, 3000));

  sim.set_silent(true);
  auto quiet = Clock::now();
  ASSERT_TRUE(rec.wait_for([] { return !x32_link_alive(); }, 17000));
  int dead_after = ms_since(quiet);
  EXPECT_GE(dead_after, 13500);  // heard last up to one AES50 poll (1 s) before going quiet
  EXPECT_TRUE(x32_linked());     // the link itself stays up for the desk's return
  sim.set_silent(false);
  EXPECT_TRUE(rec.wait_for([] { return x32_link_alive(); }, 2000));
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

std::atomic<bool> g_hold{false};
std::atomic<bool> g_held{false};

// Holds the poll thread inside its "$reseed" call until released (at most 5 s).
void KS_ABI holding_callback(const char*, int32_t, const char* kind, double, uint8_t, const void*) {
  if (std::strcmp(kind, "$reseed") != 0 || !g_hold) return;
  g_held = true;
  for (int i = 0; i < 500 && g_hold; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(X32LinkStuck, AThreadThatMissesItsWaitIsReportedAndBlocksARestart) {
  test::X32Recorder rec;
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  std::string address = test::x32_test_address(23);
  o.address = address;
  ASSERT_TRUE(sim.start(o));
  g_hold = true;
  g_held = false;
  x32_set_event_callback(holding_callback);
  ASSERT_TRUE(x32_connect(address.c_str()));
  ASSERT_TRUE(taken_soon([] { return x32_send_gain("AN", 1, 0.0); }));  // a reseed follows about 800 ms later
  ASSERT_TRUE(rec.wait_for([] { return g_held.load(); }, 3000));

  int stuck = test::X32Recorder::stuck_reports();
  auto t = Clock::now();
  x32_disconnect();
  int took = ms_since(t);
  EXPECT_GE(took, 1900);
  EXPECT_LT(took, 3000);
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck + 1);
  EXPECT_TRUE(rec.has_line("[x32] a thread did not stop in time"));

  // A second set of threads would share the first one's state: refused while it runs.
  EXPECT_FALSE(x32_connect(address.c_str()));
  EXPECT_TRUE(rec.has_line("[x32] not connecting: a thread of the last link is still running"));
  g_hold = false;
  ASSERT_TRUE(rec.wait_for([&] { return x32_connect(address.c_str()); }, 2000));
  x32_set_event_callback(nullptr);
  ASSERT_TRUE(rec.wait_for([] { return x32_link_alive(); }, 3000));
  x32_disconnect();
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck + 1);
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

TEST(X32LinkSilentDesk, DisconnectIsPromptWhenTheDeskFallsSilentMidSequence) {
  test::X32Recorder rec;
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  std::string address = test::x32_test_address(24);
  o.address = address;
  ASSERT_TRUE(sim.start(o));
  sim.put("/config/linkcfg/hadly", osc_i(1));  // the link read then asks 16 pairs, one by one
  sim.set_silent_from("/config/chlink/3-4");
  int stuck = test::X32Recorder::stuck_reports();
  ASSERT_TRUE(x32_connect(address.c_str()));
  ASSERT_TRUE(sim.wait_for([&] { return sim.count("/config/chlink/3-4") > 0; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t = Clock::now();
  x32_disconnect();
  EXPECT_LT(ms_since(t), 700);
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck);
  EXPECT_EQ(sim.count("/config/chlink/5-6"), 0);  // the rest of the sequence was not asked
}

}  // namespace
}  // namespace ks
