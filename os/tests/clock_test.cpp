#include "os/clock.h"

#include <gtest/gtest.h>

#include <atomic>

#include "os/event.h"
#include "os/tests/support/manual_clock.h"
#include "os/thread.h"

namespace ks {
namespace {

struct TickCase {
  Tick now, then;
  uint32_t elapsed;
  bool now_before_then;
};

TEST(Ticks, ComparisonsHoldAcrossTheWrap) {
  const TickCase cases[] = {
      {100, 40, 60, false},
      {40, 100, 0xFFFFFFC4u, true},
      {5, 0xFFFFFFF0u, 21, false},  // wrapped 21 ms ago
      {0xFFFFFFF0u, 5, 0xFFFFFFEBu, true},
      {0, 0xFFFFFFFFu, 1, false},
      {0x80000000u, 0, 0x80000000u, true},  // half the range: the older one is taken as later
      {7, 7, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.now << " vs " << c.then);
    EXPECT_EQ(ticks_elapsed(c.now, c.then), c.elapsed);
    EXPECT_EQ(tick_before(c.now, c.then), c.now_before_then);
  }
  // A deadline set just before the wrap is reached just after it.
  Tick deadline = 0xFFFFFF00u + 0x200u;  // wraps to 0x100
  EXPECT_FALSE(tick_reached(0xFFFFFF80u, deadline));
  EXPECT_TRUE(tick_reached(0x100u, deadline));
  EXPECT_TRUE(tick_reached(0x180u, deadline));
}

TEST(Ticks, SystemTickMovesWithSleep) {
  Tick a = tick_now();
  uint64_t a64 = tick_now64();
  sleep_ms(30);
  // The system tick moves in steps of up to ~16 ms (Windows, and Wine on a loaded machine), so a
  // 30 ms sleep is seen as at least one step, not as 30 ms.
  EXPECT_GE(ticks_elapsed(tick_now(), a), 10u);
  EXPECT_GE(tick_now64() - a64, 10u);
}

TEST(ManualClock, AutomaticModeAdvancesOnSleepAndUnsignalledWait) {
  ManualClock clock(0xFFFFFFF0u, ManualClock::Mode::automatic);
  Tick start = clock.now();
  clock.sleep(50);
  EXPECT_EQ(ticks_elapsed(clock.now(), start), 50u);
  EXPECT_EQ(clock.now64(), 0xFFFFFFF0ull + 50);  // 64-bit time does not wrap

  Event ev;
  ASSERT_TRUE(ev.create(Event::Reset::automatic));
  EXPECT_FALSE(clock.wait(ev, 200));
  EXPECT_EQ(ticks_elapsed(clock.now(), start), 250u);
  ev.set();
  EXPECT_TRUE(clock.wait(ev, 200));  // signalled: returns at once, time stands still
  EXPECT_EQ(ticks_elapsed(clock.now(), start), 250u);
  EXPECT_EQ(clock.total_slept(), 250u);

  // wait_stop without an event sleeps.
  EXPECT_FALSE(clock.wait_stop(nullptr, 10));
  EXPECT_EQ(ticks_elapsed(clock.now(), start), 260u);
}

TEST(ManualClock, SteppedSleepEndsOnlyWhenTheTestStepsPastItsDeadline) {
  ManualClock clock(1000);
  std::atomic<bool> woke{false};
  Thread t;
  ASSERT_TRUE(t.start([&] {
    clock.sleep(500);
    woke = true;
  }));
  ASSERT_TRUE(clock.wait_for_waiters(1));
  clock.advance(499);
  sleep_ms(20);
  EXPECT_FALSE(woke.load());
  EXPECT_EQ(clock.waiting(), 1);
  clock.advance(1);
  EXPECT_TRUE(t.join(5000));
  EXPECT_TRUE(woke.load());
  EXPECT_EQ(clock.waiting(), 0);
}

TEST(ManualClock, SteppedWaitEndsEarlyWhenTheEventIsSet) {
  ManualClock clock;
  Event stop;
  ASSERT_TRUE(stop.create(Event::Reset::manual));
  std::atomic<int> result{-1};
  Thread t;
  ASSERT_TRUE(t.start([&] { result = clock.wait(stop, 3000) ? 1 : 0; }));
  ASSERT_TRUE(clock.wait_for_waiters(1));
  stop.set();
  EXPECT_TRUE(t.join(5000));
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(clock.now(), 0u);

  // And times out when the clock passes the deadline with the event clear.
  stop.reset();
  ASSERT_TRUE(t.start([&] { result = clock.wait(stop, 3000) ? 1 : 0; }));
  ASSERT_TRUE(clock.wait_for_waiters(1));
  clock.advance(3000);
  EXPECT_TRUE(t.join(5000));
  EXPECT_EQ(result.load(), 0);
}

// A loop that sleeps in steps, as the timed threads do: after each advance the test waits until
// the loop has run and gone back to sleep, and only then looks at what it did.
TEST(ManualClock, WaitIdleReturnsOnceEveryWokenThreadIsBackInItsWait) {
  ManualClock clock(0);
  std::atomic<int> passes{0};
  std::atomic<bool> stop{false};
  Thread t;
  ASSERT_TRUE(t.start([&] {
    while (!stop.load()) {
      clock.sleep(100);
      ++passes;
    }
  }));
  ASSERT_TRUE(clock.wait_idle(1));
  EXPECT_EQ(passes.load(), 0);
  clock.advance(99);
  ASSERT_TRUE(clock.wait_idle(1));
  EXPECT_EQ(passes.load(), 0) << "not due yet";
  for (int want = 1; want <= 5; ++want) {
    clock.advance(100);
    ASSERT_TRUE(clock.wait_idle(1)) << want;
    EXPECT_EQ(passes.load(), want);
  }
  EXPECT_FALSE(clock.wait_idle(2, 50)) << "only one thread waits";
  stop = true;
  clock.advance(100);
  EXPECT_TRUE(t.join(5000));
}

}  // namespace
}  // namespace ks
