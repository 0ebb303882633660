#include "loader/module_manager_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "os/tests/support/manual_clock.h"
#include "os/thread.h"

namespace ks {
namespace {

// Polls (in real time) until cond holds; false after 5 s.
template <class F>
bool eventually(F cond) {
  for (int i = 0; i < 5000; ++i) {
    if (cond()) return true;
    sleep_ms(1);
  }
  return cond();
}

struct Watcher {
  ManualClock clock;
  Event changed;
  std::atomic<int> passes{0};
  std::atomic<bool> run{true};
  std::atomic<uint32_t> wait_ms{kInfinite};
  std::atomic<bool> done{false};
  std::thread thread;

  // The first pass's wait is fixed before the thread starts.
  explicit Watcher(uint32_t first_wait = kInfinite) : wait_ms(first_wait) {
    EXPECT_TRUE(changed.create(Event::Reset::automatic));
    thread = std::thread([this] {
      run_modules_watcher(
          clock, &changed,
          [this] {
            ++passes;
            return wait_ms.load();
          },
          [this] { return run.load(); });
      done = true;
    });
  }
  // The loop may be in its wait or its pause: keep waking it until it has seen run == false.
  ~Watcher() {
    run = false;
    while (!done) {
      changed.set();
      clock.advance(1000);
      sleep_ms(1);
    }
    thread.join();
  }
};

TEST(ModulesWatcherLoop, TwoSignalsWithin300msGiveAtMostTwoPasses) {
  Watcher w;
  ASSERT_TRUE(eventually([&] { return w.passes == 1 && w.clock.waiting() == 1; }));
  w.changed.set();
  ASSERT_TRUE(eventually([&] { return w.clock.total_slept() == 300; })) << "pauses after a signal";
  w.changed.set();  // second signal during the pause
  EXPECT_EQ(w.passes, 1) << "no pass before the 300 ms are over";
  w.clock.advance(300);
  ASSERT_TRUE(eventually([&] { return w.passes == 2; }));
  ASSERT_TRUE(eventually([&] { return w.clock.total_slept() == 600; }));
  w.clock.advance(300);
  ASSERT_TRUE(eventually([&] { return w.passes == 3 && w.clock.waiting() == 1; }));
  w.clock.advance(100000);
  sleep_ms(20);
  EXPECT_EQ(w.passes, 3) << "two signals, two passes, then quiet";
}

TEST(ModulesWatcherLoop, TimeOutStartsTheNextPassWithoutPause) {
  Watcher w(1000);
  ASSERT_TRUE(eventually([&] { return w.passes == 1 && w.clock.waiting() == 1; }));
  w.clock.advance(999);
  sleep_ms(10);
  EXPECT_EQ(w.passes, 1);
  w.clock.advance(1);
  ASSERT_TRUE(eventually([&] { return w.passes == 2; }));
  EXPECT_EQ(w.clock.total_slept(), 0u);
}

TEST(ModulesWatcherLoop, WithoutTheEventOnePassRuns) {
  ManualClock clock;
  int passes = 0;
  Event none;
  run_modules_watcher(
      clock, &none,
      [&] {
        ++passes;
        return kInfinite;
      },
      [] { return true; });
  run_modules_watcher(
      clock, nullptr,
      [&] {
        ++passes;
        return kInfinite;
      },
      [] { return true; });
  EXPECT_EQ(passes, 2);
}

}  // namespace
}  // namespace ks
