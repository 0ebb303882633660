// ks-test: timeout=240
// The control link against the simulated desk on loopback: connecting, one request in flight
// while pushes arrive, keep-alive, drops and reconnects, stops that must be prompt, and desks
// that send garbage.
#include "desk/wing/wing_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "desk/wing/tests/support/link_requests.h"
#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"
#include "os/socket.h"
#include "os/tests/support/manual_clock.h"
#include "sim/wing/wing_sim.h"

namespace ks {
namespace {

using sim::SimValue;
using test::eventually;

using test::input_path;
using test::read_frame;
using test::read_leaf;
using test::Reply;
using test::request;

// What the driver's keep-alive does: read the gain of LCL 1.
bool keep_alive_read() {
  NodeFrame f = read_frame("LCL", 1, "g");
  return link_request(f, false, node_table().lookup("LCL", 1, "g"), nullptr, 0, nullptr, 400,
                      false);
}

class WingLink : public testing::Test {
protected:
  // The link's ticks and waits run on a clock that moves only by the test's hand: a request
  // times out, a retry or a keep-alive comes due only when the test steps past it.
  void SetUp() override { link_set_clock(clock_.get()); }
  void start_sim(const char* ip) {
    ip_ = ip;
    ASSERT_TRUE(sim_.start(*parse_ipv4(ip))) << ip;
  }
  void connect(KeepAliveFn ka = keep_alive_read) {
    ASSERT_TRUE(link_start(ip_.c_str(), ka));
    ASSERT_TRUE(eventually([] { return link_alive(); }, 4000)) << "no connection to " << ip_;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& l : rec_.lines()) std::printf("  log: %s\n", l.c_str());
    uint32_t stuck = rec_.stuck();
    link_stop();
    // A thread left running may still read the clock: it stays for the rest of the process.
    g_next_start = clock_->now64() + 100000;
    if (rec_.stuck() != stuck) clock_.release();
    link_set_clock(nullptr);
    sim_.stop();
  }
  uint32_t learn(const char* bank, int n, const char* leaf) {
    uint32_t h = sim_.hash_of(input_path(bank, n, leaf));
    node_hash_learn(h, bank, uint32_t(n), leaf);
    return h;
  }
  // Runs a request that no reply will complete: once it waits (beside the connect thread's
  // nap) and `ready` holds, the clock is stepped past its time-out.
  // `grace_ms`: real time a reply that may still come is given before the clock is stepped.
  Reply expire(std::function<Reply()> call, uint32_t timeout_ms,
               std::function<bool()> ready = nullptr, uint32_t grace_ms = 0) {
    Reply r;
    std::atomic<bool> done{false};
    std::thread t([&] {
      r = call();
      done = true;
    });
    while (!done.load() && !clock_->wait_idle(2, 50)) {}
    if (ready) {
      EXPECT_TRUE(eventually(ready, 5000));
    }
    if (grace_ms) eventually([&] { return done.load(); }, grace_ms);
    // A request that only began its wait after the step is stepped again.
    for (int i = 0; i < 20 && !done.load(); ++i) {
      clock_->advance(timeout_ms);
      eventually([&] { return done.load(); }, 250);
    }
    t.join();
    return r;
  }

  // Each test's clock starts well after the last one's ended, so what an earlier test left in
  // the link's time (a back-off, a late reply's entry) is long over.
  static inline uint64_t g_next_start = 1000;
  std::unique_ptr<ManualClock> clock_ = std::make_unique<ManualClock>(g_next_start);
  test::DriverRecorder rec_;
  sim::WingSim sim_;
  std::string ip_;
};

// Opens a connection of its own to the desk after the link's threads have ended and asks it one
// question: once the desk answers, it has accepted every connection made before this one.
bool desk_accepted_all_before(const char* ip) {
  Socket probe = Socket::tcp();
  if (!probe.connect(Endpoint{*parse_ipv4(ip), kWingControlPort}, 2000)) return false;
  NodeFrame f = read_frame("LCL", 1, "g");
  if (!probe.send_all(f.bytes, f.fill, 2000)) return false;
  uint8_t buf[64];
  return probe.recv(buf, sizeof buf, 5000) > 0;
}

TEST_F(WingLink, ConnectsReadsAndWrites) {
  start_sim("127.0.0.101");
  sim_.set(input_path("LCL", 1, "g"), SimValue::of_float(12.5));
  connect();
  EXPECT_EQ(rec_.count_containing("[ctl] connected 127.0.0.101:2222 (native control)"), 1);

  Reply r = read_leaf("LCL", 1, "g");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.hash(), sim_.hash_of(input_path("LCL", 1, "g")));
  EXPECT_EQ(r.value(), 12.5);
  EXPECT_GE(link_sent_count(), 1u);
  EXPECT_GE(link_received_count(), 1u);

  // A write reaches the desk (stepped there), and its echo comes back as a push.
  test::PushRecorder pushes;
  learn("LCL", 3, "g");
  NodeFrame w;
  frame_reset(w);
  frame_put_path(w, "LCL", 3, "g");
  frame_put_float(w, 20.2f);
  ASSERT_TRUE(link_send_frame(w));
  ASSERT_TRUE(pushes.wait_for(1, 2000));
  SimValue at_desk;
  ASSERT_TRUE(sim_.get(input_path("LCL", 3, "g"), &at_desk));
  EXPECT_EQ(at_desk.number, 20.0);
  auto p = pushes.pushes();
  EXPECT_EQ(p[0].bank, "LCL");
  EXPECT_EQ(p[0].index, 3);
  EXPECT_EQ(p[0].leaf, "g");
  EXPECT_EQ(p[0].value, 20.0);
  EXPECT_GE(link_event_count(), 1u);
}

TEST_F(WingLink, MultiPartAndBlockReplies) {
  start_sim("127.0.0.102");
  connect();
  // Behind a leaf read whose end mark the desk sends only once this request is out: that mark
  // is the leaf's, and this reply still ends with its own.
  sim_.update_faults([](sim::SimFaults& f) { f.late_end_marks = true; });
  ASSERT_TRUE(read_leaf("LCL", 2, "g").ok);
  Reply whole = request(read_frame("LCL", 2, nullptr), 0, 500, false, true);
  ASSERT_TRUE(whole.ok);
  sim_.set_faults(sim::SimFaults{});
  // The items of the node, in the desk's order, each with the node's own hash.
  std::vector<uint32_t> hashes;
  for (size_t i = 0; i + 5 <= whole.bytes.size();) {
    ASSERT_EQ(whole.bytes[i], 0xD7);
    hashes.push_back(read_be32(&whole.bytes[i + 1]));
    size_t len = 0;
    ASSERT_EQ(token_length(&whole.bytes[i], whole.bytes.size() - i, &len), TokenScan::kComplete);
    i += len;
  }
  ASSERT_GE(hashes.size(), 3u);
  EXPECT_EQ(hashes[1], sim_.hash_of(input_path("LCL", 2, "g")));
  EXPECT_EQ(hashes[2], sim_.hash_of(input_path("LCL", 2, "vph")));

  // The definition block whole, in the console's long form and in the short one.
  for (bool console : {true, false}) {
    sim_.update_faults([&](sim::SimFaults& f) { f.console = console; });
    Reply def = request(read_frame("LCL", 2, "g", kDefinitionRequest), 0, 600, true);
    ASSERT_TRUE(def.ok) << console;
    size_t header = 0, total = 0;
    ASSERT_EQ(def.bytes[0], 0xDF) << console;
    ASSERT_TRUE(block_header(def.bytes.data(), def.bytes.size(), &header, &total)) << console;
    EXPECT_EQ(header, console ? 7u : 3u);
    EXPECT_EQ(total, def.bytes.size()) << console;
  }
}

// One request in flight at a time while the desk pushes another node's changes as fast as it
// can: every reply belongs to its request and every push arrives with its own value.
TEST_F(WingLink, RequestsWhilePushesArrive) {
  start_sim("127.0.0.103");
  sim_.set(input_path("LCL", 1, "g"), SimValue::of_float(7.5));
  connect();
  uint32_t h1 = learn("LCL", 1, "g");
  learn("LCL", 2, "g");
  test::PushRecorder pushes;

  std::atomic<bool> done{false};
  std::thread desk([&] {
    for (int i = 0; i < 300 && !done; ++i) {
      sim_.set(input_path("LCL", 2, "g"), SimValue::of_float(double(i % 40)));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int ok = 0;
  for (int i = 0; i < 100; ++i) {
    Reply r = request(read_frame("LCL", 1, "g"), h1);
    if (!r.ok) continue;
    ++ok;
    EXPECT_EQ(r.hash(), h1);
    EXPECT_EQ(r.value(), 7.5);
  }
  done = true;
  desk.join();
  EXPECT_EQ(ok, 100);
  SimValue last;
  sim_.get(input_path("LCL", 2, "g"), &last);
  ASSERT_TRUE(eventually(
      [&] {
        auto p = pushes.pushes();
        return !p.empty() && p.back().value == last.number;
      },
      2000));
  for (const auto& p : pushes.pushes()) {
    EXPECT_EQ(p.index, 2);
    EXPECT_GE(p.value, 0.0);
    EXPECT_LT(p.value, 40.0);
  }
}

TEST_F(WingLink, DropWhileRequestPendingFailsAtOnceThenReconnects) {
  start_sim("127.0.0.104");
  connect();
  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 3000; });
  std::atomic<bool> returned{false}, result{true};
  std::thread reader([&] {
    result = read_leaf("LCL", 1, "g", 2500).ok;
    returned = true;
  });
  ASSERT_TRUE(clock_->wait_idle(2)) << "the read waits beside the connect thread";
  sim_.drop_connections();
  // The clock stands still: only the drop can end the read.
  bool woken = eventually([&] { return returned.load(); }, 5000);
  if (!woken) clock_->advance(2500);
  reader.join();
  EXPECT_TRUE(woken) << "woken by the drop, not by its time-out";
  EXPECT_FALSE(result.load());

  // The next attempt comes 3 s after the last one, not before.
  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 0; });
  ASSERT_TRUE(eventually([] { return !link_alive(); }, 3000));
  clock_->advance(2999);
  ASSERT_TRUE(clock_->wait_idle(1)) << "the connect thread naps";
  EXPECT_EQ(sim_.accepted(), 1u);
  clock_->advance(150);  // its next look at the clock
  bool back = eventually([&] { return sim_.connections() == 1 && link_alive(); }, 5000);
  ASSERT_TRUE(back) << sim_.accepted() << " " << link_alive() << " " << sim_.connections();
  EXPECT_EQ(sim_.accepted(), 2u);
  EXPECT_TRUE(read_leaf("LCL", 1, "g").ok);
}

TEST_F(WingLink, KeepAliveDropsASilentDesk) {
  start_sim("127.0.0.105");
  connect();
  sim_.update_faults([](sim::SimFaults& f) { f.silent = true; });
  ASSERT_TRUE(clock_->wait_idle(1));
  uint32_t sent = link_sent_count();
  clock_->advance(4000);
  ASSERT_TRUE(clock_->wait_idle(1));
  EXPECT_EQ(link_sent_count(), sent) << "only after more than 4 s without a send";
  clock_->advance(120);  // the connect thread's next look at the clock
  ASSERT_TRUE(clock_->wait_idle(1)) << "the keep-alive read waits for its reply";
  EXPECT_EQ(link_sent_count(), sent + 1);
  EXPECT_EQ(rec_.count_containing("[ctl] keep-alive failed"), 0);
  clock_->advance(400);
  ASSERT_TRUE(eventually(
      [&] { return rec_.count_containing("[ctl] keep-alive failed, dropping") == 1; }, 3000));
  sim_.update_faults([](sim::SimFaults& f) { f.silent = false; });
  // The last attempt was long ago: the connection comes back at the connect thread's next look.
  bool back = eventually(
      [&] {
        clock_->advance(120);
        return sim_.accepted() == 2 && link_alive();
      },
      5000);
  EXPECT_TRUE(back) << sim_.accepted() << " " << link_alive() << " " << sim_.connections();
  clock_->advance(400);  // past the back-off an unguarded read waits out after the failed one
  EXPECT_TRUE(read_leaf("LCL", 1, "g").ok);
}

// A listener whose accept queue is full: further connects neither succeed nor fail.
struct HangingDesk {
  Socket listener;
  std::vector<Socket> fillers;
  bool open(const char* ip) {
    listener = Socket::tcp();
    if (!listener.bind(Endpoint{*parse_ipv4(ip), 2222}) || !listener.listen(1)) return false;
    for (int i = 0; i < 4; ++i) {
      Socket s = Socket::tcp();
      s.connect(Endpoint{*parse_ipv4(ip), 2222}, 200);
      fillers.push_back(std::move(s));
    }
    return true;
  }
};

TEST_F(WingLink, StopDuringAHangingConnectIsPrompt) {
  HangingDesk desk;
  ASSERT_TRUE(desk.open("127.0.0.106"));
  ASSERT_TRUE(link_start("127.0.0.106", keep_alive_read));
  // The attempt reads the clock as it begins; step until it has given up.
  ASSERT_TRUE(eventually(
      [&] {
        clock_->advance(100);
        return link_failed_connects() == 1;
      },
      5000));
  EXPECT_EQ(rec_.count_containing("(attempt 1, timed out"), 1);
  // The next attempt starts 3 s after the first began (at least 2 s before it failed); stop in
  // the middle of its 2 s wait.
  clock_->set(clock_->now64() + 1200);
  ASSERT_TRUE(clock_->wait_idle(0));
  EXPECT_EQ(clock_->waiting(), 0) << "the connect thread is in its attempt, not in a nap";
  clock_->advance(1000);
  // The clock stands still from here: the attempt ends only because of the stop, or its thread
  // is left behind and counted.
  link_stop();
  EXPECT_EQ(rec_.stuck(), 0u);
  EXPECT_EQ(link_failed_connects(), 1u) << "the stopped attempt is no failure";
  EXPECT_FALSE(link_alive());
}

TEST_F(WingLink, StartTwiceKeepsOneConnection) {
  start_sim("127.0.0.107");
  connect();
  EXPECT_TRUE(link_start("127.0.0.107", keep_alive_read));
  link_stop();
  EXPECT_EQ(rec_.stuck(), 0u);
  ASSERT_TRUE(desk_accepted_all_before("127.0.0.107"));
  EXPECT_EQ(sim_.accepted(), 2u) << "the link's one connection and the probe";
  // A clean stop and a new start: one new connection.
  connect();
  link_stop();
  EXPECT_EQ(rec_.stuck(), 0u);
  ASSERT_TRUE(desk_accepted_all_before("127.0.0.107"));
  EXPECT_EQ(sim_.accepted(), 4u);
}

// A keep-alive that holds the connect thread until the test lets it go (10 s at most).
struct Hold {
  std::mutex m;
  std::condition_variable cv;
  bool armed = false, held = false;
};
Hold g_hold;

bool holding_keep_alive() {
  std::unique_lock<std::mutex> g(g_hold.m);
  if (!g_hold.armed) return true;
  g_hold.held = true;
  g_hold.cv.notify_all();
  g_hold.cv.wait_for(g, std::chrono::seconds(10), [] { return !g_hold.armed; });
  g_hold.held = false;
  g_hold.cv.notify_all();
  return true;
}

void arm_hold(bool on) {
  std::lock_guard<std::mutex> g(g_hold.m);
  g_hold.armed = on;
  g_hold.cv.notify_all();
}

bool hold_is(bool held) {
  std::unique_lock<std::mutex> g(g_hold.m);
  return g_hold.cv.wait_for(g, std::chrono::seconds(8), [&] { return g_hold.held == held; });
}

// A thread that does not come back is counted, and no second set of threads starts beside it.
TEST_F(WingLink, StuckThreadIsCountedAndBlocksRestart) {
  start_sim("127.0.0.108");
  arm_hold(true);
  connect(holding_keep_alive);
  ASSERT_TRUE(clock_->wait_idle(1));
  clock_->advance(4001);
  ASSERT_TRUE(hold_is(true));
  link_stop();
  EXPECT_EQ(rec_.stuck(), 1u) << "the connect thread, past its 2000 ms";
  EXPECT_FALSE(link_start("127.0.0.108", holding_keep_alive));
  EXPECT_EQ(rec_.count_containing("still running"), 1);
  arm_hold(false);
  ASSERT_TRUE(hold_is(false));
  ASSERT_TRUE(eventually([] { return link_start("127.0.0.108", holding_keep_alive); }, 2000));
  ASSERT_TRUE(eventually([] { return link_alive(); }, 4000));
}

TEST_F(WingLink, SendTimesOutOnADeskThatStopsReading) {
  Socket listener = Socket::tcp();
  ASSERT_TRUE(listener.bind(Endpoint{*parse_ipv4("127.0.0.109"), 2222}));
  ASSERT_TRUE(listener.listen(4));
  ip_ = "127.0.0.109";
  ASSERT_TRUE(link_start("127.0.0.109", nullptr));
  Socket peer = listener.accept(3000);
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(eventually([] { return link_alive(); }, 2000));
  NodeFrame big;
  frame_reset(big);
  for (int i = 0; i < 250; ++i) frame_put_byte(big, 0x01);
  bool failed = false;
  for (int i = 0; i < 400000 && !failed; ++i) failed = !link_send_frame(big);
  ASSERT_TRUE(failed) << "the peer never reads: the buffers must fill and the send time out";
  EXPECT_FALSE(link_alive());
  EXPECT_EQ(rec_.count_containing("failed or timed out, dropping"), 1);
}

TEST_F(WingLink, RefusedConnectsAreCounted) {
  ASSERT_TRUE(link_start("127.0.0.110", nullptr));
  ASSERT_TRUE(eventually([] { return link_failed_connects() >= 1; }, 3000));
  EXPECT_EQ(
      rec_.count_containing("[ctl] cannot connect to 127.0.0.110:2222 (attempt 1, socket error"),
      1);
  EXPECT_FALSE(link_alive());
  EXPECT_FALSE(link_start("", nullptr));
}

// Garbage from the desk before a reply: the reply still matches its request, and nothing in
// the garbage becomes a pushed value.
TEST_F(WingLink, HostileDeskStreams) {
  start_sim("127.0.0.111");
  sim_.set(input_path("LCL", 1, "g"), SimValue::of_float(3.0));
  connect();
  uint32_t h = learn("LCL", 1, "g");
  test::PushRecorder pushes;

  struct Case {
    const char* what;
    void (*arm)(sim::SimFaults&);
    bool reply_lost;
  };
  const Case cases[] = {
      {"oversized long block before the reply", [](sim::SimFaults& f) { f.oversize_next = 1; },
       false},
      {"oversized short block before the reply",
       [](sim::SimFaults& f) {
         f.console = false;
         f.oversize_next = 1;
       },
       false},
      {"unknown token before the reply", [](sim::SimFaults& f) { f.unknown_next = 1; }, false},
      {"garbled reply", [](sim::SimFaults& f) { f.garble_next = 1; }, true},
      {"reply sent one byte per segment", [](sim::SimFaults& f) { f.bytewise = true; }, false},
  };
  for (const Case& c : cases) {
    sim_.update_faults(c.arm);
    uint32_t received = link_received_count();
    auto read = [&] { return request(read_frame("LCL", 1, "g"), h, 1500); };
    // Once the garbled bytes are in, nothing will complete the request: its time runs out.
    Reply r = c.reply_lost ? expire(read, 1500, [&] { return link_received_count() > received; })
                           : read();
    EXPECT_EQ(r.ok, !c.reply_lost) << c.what;
    if (r.ok) {
      EXPECT_EQ(r.hash(), h) << c.what;
      EXPECT_EQ(r.value(), 3.0) << c.what;
    }
    sim_.set_faults(sim::SimFaults{});
    Reply next = request(read_frame("LCL", 1, "g"), h);
    EXPECT_TRUE(next.ok) << c.what << ": the link recovers for the next request";
    EXPECT_EQ(next.value(), 3.0) << c.what;
  }

  std::mt19937 rng(5);
  std::vector<uint8_t> junk(20000);
  for (auto& b : junk) b = uint8_t(rng());
  sim_.inject(junk);
  // Random bytes may hold a length that swallows what follows; an item left incomplete for a
  // second of the link's time starts a clean connection (3 s after the last attempt), and reads
  // work again. Each round that fails steps the clock through all of that; each gives the reply
  // half a second of real time first, since under load it can come after the request's wait began.
  Reply after;
  bool recovered = false;
  for (int round = 0; round < 8 && !recovered; ++round) {
    after = expire([&] { return request(read_frame("LCL", 1, "g"), h, 1500); }, 1500, nullptr, 500);
    recovered = after.ok;
    if (!recovered) {
      clock_->advance(3000);
      eventually([] { return link_alive(); }, 3000);
    }
  }
  EXPECT_TRUE(recovered);
  EXPECT_EQ(after.value(), 3.0);
  for (const auto& p : pushes.pushes())
    ADD_FAILURE() << "false push " << p.bank << " " << p.index << "/" << p.leaf << " " << p.value;
  EXPECT_GE(link_rx_errors().oversize, 1u);
  EXPECT_GE(link_rx_errors().unknown_tokens, 2u);
  EXPECT_TRUE(link_alive());
}

// A reply that arrives after its request gave up never completes the next request: a guarded
// read tells it by its hash, an unguarded one waits out the back-off while it drains.
TEST_F(WingLink, LateReplyNeverCompletesTheNextRequest) {
  start_sim("127.0.0.112");
  for (int n = 4; n <= 7; ++n) sim_.set(input_path("LCL", n, "g"), SimValue::of_float(double(n)));
  connect();
  uint32_t h4 = learn("LCL", 4, "g"), h5 = learn("LCL", 5, "g");
  struct Case {
    const char* what;
    int late, next;
    uint32_t late_hash, next_hash;
  };
  const Case cases[] = {
      {"guarded reads", 4, 5, h4, h5},
      {"unguarded reads", 6, 7, 0, 0},
  };
  for (const Case& c : cases) {
    clock_->advance(400);  // past the back-off of an earlier failure
    // The desk holds the reply until after the request has given up.
    sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 150; });
    uint32_t events = link_event_count();
    EXPECT_FALSE(
        expire([&] { return request(read_frame("LCL", c.late, "g"), c.late_hash); }, 400).ok)
        << c.what;
    sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 0; });
    std::atomic<bool> returned{false};
    Reply r;
    std::thread next([&] {
      r = request(read_frame("LCL", c.next, "g"), c.next_hash, 1500);
      returned = true;
    });
    if (c.next_hash == 0) {
      // An unguarded read waits out the back-off, and the late reply drains meanwhile as a push.
      ASSERT_TRUE(clock_->wait_idle(2)) << c.what;
      EXPECT_TRUE(eventually([&] { return link_event_count() > events; }, 3000)) << c.what;
      EXPECT_FALSE(returned.load()) << "an unguarded read waits out the back-off";
      clock_->advance(400);
    }
    bool answered = eventually([&] { return returned.load(); }, 5000);
    if (!answered) clock_->advance(1500);
    next.join();
    ASSERT_TRUE(answered && r.ok) << c.what;
    EXPECT_EQ(r.hash(), sim_.hash_of(input_path("LCL", c.next, "g"))) << c.what;
    EXPECT_EQ(r.value(), double(c.next)) << c.what;
  }
  EXPECT_GE(link_late_replies_dropped(), 1u) << "the guarded read's late reply, told by its hash";
}

}  // namespace
}  // namespace ks
