// The driver against the simulated desk, over loopback: reads and writes with exact bytes, desk
// changes, hostile and foreign datagrams, the one-query-in-flight rule, bursts, reseeds, the
// patch and head-amp-type slots, the head-amp link and a prompt disconnect while the desk is mute.
// ks-test: lock=udp10023 timeout=120
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ranges>
#include <thread>

#include "desk/x32/tests/support/x32_recorders.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "desk/x32/x32_rules.h"
#include "desk/x32/x32_tables.h"
#include "os/tests/support/manual_clock.h"
#include "sim/x32/x32_sim.h"

namespace ks {
namespace {

using sim::osc_f;
using sim::osc_i;
using sim::osc_s;
const std::string kDeskText = test::x32_test_address(21);
const char* const kDesk = kDeskText.c_str();

// The link's timers (queries, polls, reseeds, the burst's end, the desk's silence) run on a clock
// that moves only by the test's hand. Set before the connect, cleared after the disconnect; a
// thread left running keeps it for the rest of the process.
class HandClock {
public:
  HandClock() { x32_set_clock(clock_.get()); }
  ~HandClock() {
    x32_set_clock(nullptr);
    next_start_ = clock_->now64() + 100000;
    if (keep_) clock_.release();
  }
  ManualClock& operator*() { return *clock_; }
  ManualClock* operator->() { return clock_.get(); }
  void keep() { keep_ = true; }

  // Steps in the poll thread's 100 ms, letting it run each step before the next.
  void step(uint32_t ms) {
    for (uint32_t done = 0; done < ms; done += 100) {
      clock_->advance(ms - done < 100 ? ms - done : 100);
      clock_->wait_idle(1, 2000);
    }
  }
  // Steps until ready() holds, at most `limit_ms` of the link's time.
  bool step_until(const std::function<bool()>& ready, uint32_t limit_ms) {
    for (uint32_t t = 0; t <= limit_ms; t += 100) {
      if (ready()) return true;
      step(100);
    }
    return ready();
  }
  // Runs a call that waits for a reply that will not come: the clock is stepped a query's wait
  // at a time, each time the waiting threads are idle, until the call has given up (behind a
  // query of the poll thread's, that takes two steps).
  template <class F>
  auto expire(F call) {
    decltype(call()) result{};
    std::atomic<bool> done{false};
    std::thread t([&] {
      result = call();
      done = true;
    });
    for (int i = 0; i < 100 && !done.load(); ++i) {
      clock_->wait_idle(2, 50);
      clock_->advance(kX32QueryMs);
      for (int k = 0; k < 25 && !done.load(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    t.join();
    return result;
  }

private:
  // Each clock starts well after the last one ended: nothing an earlier test left in the link's
  // time is still pending.
  static inline uint64_t next_start_ = 100000;
  std::unique_ptr<ManualClock> clock_ = std::make_unique<ManualClock>(next_start_);
  bool keep_ = false;
};

// The connection's first questions (the head-amp link, then the facts, the last of which is
// "/config/linkcfg/hadly") are answered at once by a healthy desk; after them the poll thread only
// waits for its next step, and stepping the clock can no longer time out a question in flight.
bool first_questions_done(test::X32Recorder& rec, ManualClock& clock) {
  return rec.wait_for([&] { return rec.has_line("[x32] facts: /config/linkcfg/hadly"); }, 4000) &&
         clock.wait_idle(1);
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
    ASSERT_TRUE(first_questions_done(rec, *clock));
  }
  void TearDown() override {
    int stuck = test::X32Recorder::stuck_reports();
    x32_disconnect();
    // With the clock standing still, only a prompt stop lets both threads end in their 2 s.
    EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck);
    if (test::X32Recorder::stuck_reports() != stuck) clock.keep();
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

  HandClock clock;
  test::X32Recorder rec;
  sim::X32Sim sim;
};

// LV1's writes never wait: one that meets another send on its way is taken at a later try (the
// framework defers it to the watcher's next pass).
template <class Send>
bool taken_soon(Send send) {
  for (int i = 0; i < 1000; ++i) {
    if (send()) return true;
    std::this_thread::yield();
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
            (std::vector<uint8_t>{'/', 'h', 'e', 'a', 'd',  'a',  'm',  'p', '/', '0',
                                  '3', '2', '/', 'g', 'a',  'i',  'n',  0,   0,   0,
                                  ',', 'f', 0,   0,   0x3E, 0x2A, 0xAA, 0xAB}));
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
  ASSERT_TRUE(
      rec.wait_for([&] { return rec.has_line("[x32] facts: /config/linkcfg/hadly"); }, 4000));
  sim.set_wrong_reply_address(true);
  uint32_t events = x32_event_count();
  std::atomic<bool> returned{false}, ok{true};
  std::thread reader([&] {
    double db;
    ok = x32_read_gain("AN", 1, &db);
    returned = true;
  });
  ASSERT_TRUE(clock->wait_idle(2)) << "the query waits beside the poll thread";
  EXPECT_TRUE(rec.wait_for([&] { return x32_event_count() > events; }, 3000))
      << "the reply came, as a push";
  clock->advance(kX32QueryMs - 1);
  ASSERT_TRUE(clock->wait_idle(2));
  EXPECT_FALSE(returned.load()) << "a reply at another address does not answer the query";
  clock->advance(1);
  EXPECT_TRUE(rec.wait_for([&] { return returned.load(); }, 3000)) << "it times out at 300 ms";
  if (!returned) clock->advance(kX32QueryMs);
  reader.join();
  EXPECT_FALSE(ok.load());
}

TEST_F(X32Link, ALateReplyNeverAnswersTheNextQueryNorArrivesAsAPush) {
  sim.put("/headamp/000/gain", osc_f(0.0f));  // -12 dB
  sim.put("/headamp/001/gain", osc_f(1.0f));  // +60 dB
  sim.set_reply_delay_ms(350, "/headamp/000/gain");
  const uint32_t before = x32_late_replies_dropped();
  double db = 0;
  EXPECT_FALSE(clock.expire([&] { return x32_read_gain("AN", 1, &db); }));
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
  for (auto& e : rec.events()) {
    if (e.kind == "g" && e.n == 1) {
      EXPECT_EQ(e.value, 24.0);
    }
  }
}

// A desk that froze, queued the queries and then answered them all at once with a value changed
// meanwhile: the late replies (ours and the poll thread's) are dropped, none becomes an event.
TEST_F(X32Link, AFrozenDeskAnsweringEverythingAtOnceGivesNoEvents) {
  sim.put("/headamp/002/gain", osc_f(0.25f));
  uint32_t before = x32_late_replies_dropped();
  sim.set_frozen(true);
  double db = 0;
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(clock.expire([&] { return x32_read_gain("AN", 3, &db); }));
  sim.put("/headamp/002/gain", osc_f(0.75f));  // moved at the desk while it was frozen
  sim.set_frozen(false);
  ASSERT_TRUE(rec.wait_for([&] { return x32_late_replies_dropped() >= before + 3; }, 3000))
      << x32_late_replies_dropped() - before;
  EXPECT_FALSE(has_event("AN", 3, "g"));
  ASSERT_TRUE(x32_read_gain("AN", 3, &db));
  EXPECT_EQ(db, 42.0) << "a fresh read gets the desk's value";
}

TEST_F(X32Link, QueriesFromSeveralThreadsEachGetTheirOwnAnswer) {
  // Head amp i holds i/8 of the desk's range: -12 dB at 0, +60 dB at 1, in 9 dB eighths.
  const double kDb[8] = {-12.0, -3.0, 6.0, 15.0, 24.0, 33.0, 42.0, 51.0};
  for (int i = 0; i < 8; i++)
    sim.put("/headamp/00" + std::to_string(i) + "/gain", osc_f(float(i) / 8.0f));
  std::atomic<int> wrong{0}, failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 10; k++) {
        int i = (t + k) % 8;
        double db;
        if (!x32_read_gain("AN", i + 1, &db)) {
          failed++;
        } else if (std::fabs(db - kDb[i]) > 1e-4) {
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
  uint32_t received = x32_received_count();
  sim.scene_load(200, 300);
  ASSERT_TRUE(rec.wait_for([&] { return x32_received_count() >= received + 200; }, 5000));
  // The pushes all came at one moment of the link's clock; the burst ends 700 ms after the last.
  clock->advance(kX32BurstQuietMs);
  ASSERT_TRUE(clock->wait_idle(1));
  EXPECT_EQ(rec.count_kind("$reread"), 0) << "not while the desk may still be sending";
  clock->advance(100);
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$reread") > 0; }, 3000));
  EXPECT_TRUE(rec.has_line(
      "[x32] a burst of changes (a scene load or reset?) - re-reading the patch and preamps"));
  clock.step(300);
  EXPECT_EQ(rec.count_kind("$reread"), 1);
  // The patch cache was dropped: the next read asks the desk again.
  ASSERT_TRUE(x32_read_source("CRD", 1, bank, sizeof bank, &n));
  EXPECT_EQ(sim.count("/config/routing/CARD/1-8"), block_reads + 1);
}

TEST_F(X32Link, SteadyChangesAndStatusRepliesAreNoBurst) {
  rec.clear();
  uint32_t received = x32_received_count();
  for (int i = 0; i < 140; i++) sim.desk_change("/headamp/001/gain", osc_f(0.5f));
  for (int i = 0; i < 100; i++)
    sim.send_raw_to_subscribers(sim::osc_write({"/status", {osc_s("active")}}));
  ASSERT_TRUE(rec.wait_for([&] { return x32_received_count() >= received + 240; }, 5000));
  clock.step(1200);
  EXPECT_EQ(rec.count_kind("$reread"), 0);
}

TEST_F(X32Link, AGainWriteIsFollowedByAReseed) {
  rec.clear();
  ASSERT_TRUE(taken_soon([&] { return x32_send_gain("AN", 1, 3.0); }));
  clock->advance(800);
  ASSERT_TRUE(clock->wait_idle(1));
  EXPECT_EQ(rec.count_kind("$reseed"), 0) << "the desk is given 801 ms to settle";
  clock->advance(100);
  ASSERT_TRUE(rec.wait_for([&] { return rec.count_kind("$reseed") > 0; }, 2000));
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
  std::vector<Case> cases = {{12, true, "A", 12},   {3, true, "A", 8},  {4, true, "OUT", 4},
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
  EXPECT_TRUE(
      rec.has_line("[x32] /config/routing/CARD/25-32 answered a s, not a number - patch not read"));
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
  ASSERT_TRUE(
      rec.wait_for([&] { return x32_ha_link_partner("AN", 1, bank, sizeof bank, &n) == 0; }, 3000));
  EXPECT_TRUE(rec.has_line("[x32] HA link off - no head amp is mirrored"));

  sim.put("/config/chlink/1-2", osc_i(1));
  sim.put("/-ha/01/index", osc_i(32));  // channel 1 from A 1
  sim.put("/-ha/02/index", osc_i(33));  // channel 2 from A 2
  sim.desk_change("/config/linkcfg/hadly", osc_i(1));
  // Read on the poll thread's next step.
  ASSERT_TRUE(rec.wait_for([] { return x32_ha_link_dirty(); }, 3000));
  clock->advance(100);
  ASSERT_TRUE(
      rec.wait_for([&] { return x32_ha_link_partner("A", 1, bank, sizeof bank, &n) == 1; }, 3000));
  EXPECT_STREQ(bank, "A");
  EXPECT_EQ(n, 2);
  ASSERT_EQ(x32_ha_link_partner("A", 2, bank, sizeof bank, &n), 1);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(x32_ha_link_partner("AN", 3, bank, sizeof bank, &n), 0);
  EXPECT_TRUE(rec.has_line("[x32] HA link ON - linked pairs share 48V and gain: ch1-2=A 1+A 2"));
}

TEST_F(X32Link, StatusFactsAreLoggedOncePerConnection) {
  ASSERT_TRUE(rec.wait_for(
      [&] { return rec.has_line("[x32] facts: /config/linkcfg/hadly ,i = 0"); }, 4000));
  EXPECT_TRUE(rec.has_line("[x32] facts: /-stat/xcardtype ,i = 11"));
  EXPECT_TRUE(rec.has_line("[x32] facts: /-stat/aes50/A ,s = \"    000000\""));
}

TEST(X32LinkSilentDesk, DisconnectIsPromptWhileTheDeskSaysNothing) {
  HandClock clock;
  test::X32Recorder rec;
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  std::string address = test::x32_test_address(22);
  o.address = address;
  ASSERT_TRUE(sim.start(o));
  sim.set_silent(true);
  int stuck = test::X32Recorder::stuck_reports();
  // Stopped at points along the connection's first questions, each of which waits 300 ms.
  for (uint32_t into : {0u, 150u, 450u, 1300u}) {
    SCOPED_TRACE(into);
    ASSERT_TRUE(x32_connect(address.c_str()));
    ASSERT_TRUE(clock->wait_idle(1));
    for (uint32_t t = 0; t < into; t += 50) {
      clock->advance(50);
      clock->wait_idle(1, 2000);
    }
    EXPECT_FALSE(x32_link_alive());
    double db;
    // Queued behind the poll thread's question, then one of its own.
    EXPECT_FALSE(clock.expire([&] { return x32_read_gain("AN", 1, &db); }));
    // The clock stands still: the rest of the sequence can only be cut short by the stop.
    x32_disconnect();
    EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck);
  }
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
  EXPECT_EQ(sim.count("/xremote"), 1);
  clock.step(7900);
  EXPECT_EQ(sim.count("/xremote"), 1) << "renewed every 8 s";
  clock.step(100);
  ASSERT_TRUE(sim.wait_for([&] { return sim.count("/xremote") == 2; }, 3000));
  EXPECT_EQ(sim.subscribers().size(), 1u);
  // Still subscribed: a change at the desk still arrives.
  sim.desk_change("/headamp/009/phantom", osc_i(1));
  ASSERT_TRUE(rec.wait_for([&] { return has_event("AN", 10, "vph"); }, 3000));

  // The desk last answers at a known step, then falls silent.
  uint32_t received = x32_received_count();
  clock.step(1000);  // one AES50 poll
  ASSERT_TRUE(rec.wait_for([&] { return x32_received_count() > received; }, 3000));
  sim.set_silent(true);
  clock.step(14000);
  EXPECT_TRUE(x32_link_alive()) << "heard at most 1 s before the silence";
  ASSERT_TRUE(clock.step_until([] { return !x32_link_alive(); }, 1100))
      << "15 s after it last heard the desk";
  EXPECT_TRUE(x32_linked());  // the link itself stays up for the desk's return
  sim.set_silent(false);
  EXPECT_TRUE(clock.step_until([] { return x32_link_alive(); }, 2000));
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

// Holds the poll thread inside its "$reseed" call until released (10 s at most).
struct Hold {
  std::mutex m;
  std::condition_variable cv;
  bool armed = false, held = false;
};
Hold g_hold;

void KS_ABI holding_callback(const char*, int32_t, const char* kind, double, uint8_t, const void*) {
  if (std::strcmp(kind, "$reseed") != 0) return;
  std::unique_lock<std::mutex> g(g_hold.m);
  if (!g_hold.armed) return;
  g_hold.held = true;
  g_hold.cv.notify_all();
  g_hold.cv.wait_for(g, std::chrono::seconds(10), [] { return !g_hold.armed; });
  g_hold.held = false;
  g_hold.cv.notify_all();
}

void arm_hold(bool on) {
  std::lock_guard<std::mutex> g(g_hold.m);
  g_hold.armed = on;
  g_hold.cv.notify_all();
}

bool held() {
  std::lock_guard<std::mutex> g(g_hold.m);
  return g_hold.held;
}

TEST(X32LinkStuck, AThreadThatMissesItsWaitIsReportedAndBlocksARestart) {
  HandClock clock;
  test::X32Recorder rec;
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  std::string address = test::x32_test_address(23);
  o.address = address;
  ASSERT_TRUE(sim.start(o));
  arm_hold(true);
  x32_set_event_callback(holding_callback);
  ASSERT_TRUE(x32_connect(address.c_str()));
  ASSERT_TRUE(first_questions_done(rec, *clock));
  ASSERT_TRUE(
      taken_soon([] { return x32_send_gain("AN", 1, 0.0); }));  // a reseed follows 801 ms later
  clock->advance(900);
  ASSERT_TRUE(rec.wait_for([] { return held(); }, 5000));

  int stuck = test::X32Recorder::stuck_reports();
  x32_disconnect();
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck + 1) << "the poll thread, past its 2000 ms";
  EXPECT_TRUE(rec.has_line("[x32] a thread did not stop in time"));

  // A second set of threads would share the first one's state: refused while it runs.
  EXPECT_FALSE(x32_connect(address.c_str()));
  EXPECT_TRUE(rec.has_line("[x32] not connecting: a thread of the last link is still running"));
  arm_hold(false);
  ASSERT_TRUE(rec.wait_for([&] { return x32_connect(address.c_str()); }, 5000));
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
  HandClock clock;
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
  ASSERT_TRUE(clock->wait_idle(1)) << "the poll thread waits for its answer";
  // The clock stands still: the rest of the sequence can only be cut short by the stop.
  x32_disconnect();
  EXPECT_EQ(test::X32Recorder::stuck_reports(), stuck);
  EXPECT_EQ(sim.count("/config/chlink/5-6"), 0);  // the rest of the sequence was not asked
}

}  // namespace
}  // namespace ks
