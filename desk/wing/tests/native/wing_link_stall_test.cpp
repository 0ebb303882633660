// ks-test: timeout=240
// The control link against a simulated desk that stops reading its socket or answers late: LV1's
// writes never wait for the socket or its lock, and replies that come after their request gave
// up are never pushes. Native tier: the stalls need the host's own socket semantics.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "desk/wing/tests/support/link_requests.h"
#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_link.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"
#include "os/socket.h"
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

class WingLink : public testing::Test {
protected:
  void start_sim(const char* ip) {
    ip_ = ip;
    ASSERT_TRUE(sim_.start(*parse_ipv4(ip))) << ip;
  }
  void connect(KeepAliveFn ka) {
    ASSERT_TRUE(link_start(ip_.c_str(), ka));
    ASSERT_TRUE(eventually([] { return link_alive(); }, 4000)) << "no connection to " << ip_;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& l : rec_.lines()) std::printf("  log: %s\n", l.c_str());
    link_stop();
    sim_.stop();
  }
  uint32_t learn(const char* bank, int n, const char* leaf) {
    uint32_t h = sim_.hash_of(input_path(bank, n, leaf));
    node_hash_learn(h, bank, uint32_t(n), leaf);
    return h;
  }

  test::DriverRecorder rec_;
  sim::WingSim sim_;
  std::string ip_;
};

NodeFrame gain_write(const char* bank, int n, double db) {
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, "g");
  frame_put_float(f, float(db));
  return f;
}

// LV1's writes against a desk that stops reading its socket: they never wait for the socket nor
// for its lock, nothing is sent when the socket takes nothing, and when the desk reads again the
// stream is whole (a frame the socket took only in part is finished first) and the last value
// arrives.
TEST_F(WingLink, WritesFromLv1NeverWaitForADeskThatStopsReading) {
  sim_.set_receive_buffer(4096);
  start_sim("127.0.0.115");
  connect(nullptr);
  sim_.update_faults([](sim::SimFaults& f) { f.stall = true; });
  bool deferred = false;
  int sent = 0;
  for (int i = 0; i < 2000000 && !deferred; ++i) {
    deferred = !link_try_send_frame(gain_write("LCL", 3, i % 2 ? 10.0 : 20.0));
    sent += deferred ? 0 : 1;
  }
  ASSERT_TRUE(deferred) << "the desk never reads: the socket must fill";
  EXPECT_TRUE(link_alive()) << "a write that cannot go out now is no reason to drop the link";

  // Another thread sends with the blocking path and waits on the full socket, holding its lock.
  std::atomic<bool> in_send{false}, returned{false};
  std::thread watcher([&] {
    in_send = true;
    link_send_frame(gain_write("LCL", 4, 1.0));
    returned = true;
  });
  while (!in_send) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_FALSE(returned.load()) << "the blocking send should still be waiting on the full socket";
  EXPECT_FALSE(link_try_send_frame(gain_write("LCL", 3, 33.0)));
  EXPECT_FALSE(returned.load())
      << "LV1's write came back before the lock holder did: it did not wait";

  sim_.update_faults([](sim::SimFaults& f) { f.stall = false; });
  watcher.join();
  ASSERT_TRUE(eventually([] { return link_try_send_frame(gain_write("LCL", 3, 33.0)); }, 3000));
  ASSERT_TRUE(sim_.wait_records(
      [](const std::vector<sim::SimRecord>& all) {
        return !all.empty() && all.back().request.path == "io/in/LCL/3/g" &&
               all.back().request.value.number == 33.0;
      },
      10000))
      << sent << " frames before the socket filled";
  EXPECT_EQ(sim_.junk_bytes(), 0u) << "the stream was cut inside a frame";
  SimValue at_desk;
  ASSERT_TRUE(sim_.get(input_path("LCL", 3, "g"), &at_desk));
  EXPECT_EQ(at_desk.number, 33.0);
  EXPECT_TRUE(link_alive());
}

// Replies that come after their request gave up are what the desk held when it got round to an
// old question, not changes at the desk: never pushes. One late reply, and a desk that froze,
// queued three reads and then answered them all with a value changed meanwhile.
TEST_F(WingLink, LateRepliesAreNeverTakenAsPushes) {
  start_sim("127.0.0.116");
  sim_.set(input_path("LCL", 4, "g"), SimValue::of_float(4.0));
  connect(nullptr);
  learn("LCL", 4, "g");
  test::PushRecorder pushes;
  const uint32_t before = link_late_replies_dropped();

  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 450; });
  EXPECT_FALSE(read_leaf("LCL", 4, "g").ok);
  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 0; });
  ASSERT_TRUE(eventually([&] { return link_late_replies_dropped() == before + 1; }, 3000));
  EXPECT_EQ(pushes.size(), 0u);
  sim_.set(input_path("LCL", 4, "g"), SimValue::of_float(6.0));  // a real move at the desk
  ASSERT_TRUE(pushes.wait_for(1, 2000));
  EXPECT_EQ(pushes.pushes()[0].value, 6.0);

  sim_.update_faults([](sim::SimFaults& f) { f.stall = f.hold_pushes = true; });
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(read_leaf("LCL", 4, "g").ok);
  sim_.set(input_path("LCL", 4, "g"), SimValue::of_float(9.0));
  sim_.update_faults([](sim::SimFaults& f) { f.stall = f.hold_pushes = false; });
  ASSERT_TRUE(eventually([&] { return link_late_replies_dropped() == before + 4; }, 3000));
  for (const auto& p : pushes.pushes())
    EXPECT_NE(p.value, 9.0) << "a late reply came through as a push";
  EXPECT_EQ(pushes.size(), 1u);
  Reply now = read_leaf("LCL", 4, "g");
  ASSERT_TRUE(now.ok);
  EXPECT_EQ(now.value(), 9.0) << "a fresh read gets the desk's value";

  // A whole-node read that gave up: its items, up to their end mark, are late as well, and the
  // next whole-node read gets its own.
  learn("LCL", 2, "g");
  learn("LCL", 2, "vph");
  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 600; });
  EXPECT_FALSE(request(read_frame("LCL", 2, nullptr), 0, 500, false, true).ok);
  sim_.update_faults([](sim::SimFaults& f) { f.delay_ms = 0; });
  ASSERT_TRUE(eventually([&] { return link_late_replies_dropped() >= before + 6; }, 3000));
  Reply whole = request(read_frame("LCL", 2, nullptr), 0, 500, false, true);
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(read_be32(&whole.bytes[1]), sim_.hash_of(input_path("LCL", 2, "$ha")));
  EXPECT_EQ(pushes.size(), 1u) << "an item of the late whole-node reply came through as a push";
}

}  // namespace
}  // namespace ks
