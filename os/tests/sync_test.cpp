// Threads, events and locks.
#include <gtest/gtest.h>

#include <atomic>

#include "os/clock.h"
#include "os/event.h"
#include "os/lock.h"
#include "os/thread.h"

namespace ks {
namespace {

TEST(RwLock, TrySharedFailsAtOnceWhileAnotherThreadHoldsItExclusively) {
  RwLock lock;
  Event held, release;
  ASSERT_TRUE(held.create(Event::Reset::manual));
  ASSERT_TRUE(release.create(Event::Reset::manual));
  Thread writer;
  ASSERT_TRUE(writer.start([&] {
    lock.lock();
    held.set();
    release.wait(kInfinite);
    lock.unlock();
  }));
  ASSERT_TRUE(held.wait(5000));
  // A blocking attempt would hang here until the release below, which comes after the checks.
  EXPECT_FALSE(lock.try_lock_shared());
  EXPECT_FALSE(lock.try_lock());
  {
    TrySharedGuard g(lock);
    EXPECT_FALSE(g.held());
  }
  release.set();
  ASSERT_TRUE(writer.join(5000));
  EXPECT_TRUE(lock.try_lock_shared());
  EXPECT_TRUE(lock.try_lock_shared()) << "readers share";
  EXPECT_FALSE(lock.try_lock()) << "a writer waits for readers";
  lock.unlock_shared();
  lock.unlock_shared();
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

TEST(RwLock, ReadersSeeNoTornWrites) {
  RwLock lock;
  uint64_t a = 0, b = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  Thread readers[3];
  for (auto& r : readers)
    ASSERT_TRUE(r.start([&] {
      while (!stop) {
        SharedGuard g(lock);
        if (a != b) ++torn;
      }
    }));
  for (int i = 0; i < 20000; ++i) {
    LockGuard<RwLock> g(lock);
    ++a;
    ++b;
  }
  stop = true;
  for (auto& r : readers) ASSERT_TRUE(r.join(5000));
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(a, 20000u);
}

TEST(CriticalSection, IsRecursiveForItsOwnerAndExcludesOthers) {
  CriticalSection cs;
  cs.lock();
  EXPECT_TRUE(cs.try_lock()) << "the owner enters again";
  std::atomic<int> other{-1};
  Thread t;
  ASSERT_TRUE(t.start([&] { other = cs.try_lock() ? 1 : 0; }));
  ASSERT_TRUE(t.join(5000));
  EXPECT_EQ(other.load(), 0);
  cs.unlock();
  cs.unlock();
  ASSERT_TRUE(t.start([&] {
    other = cs.try_lock() ? 1 : 0;
    if (other) cs.unlock();
  }));
  ASSERT_TRUE(t.join(5000));
  EXPECT_EQ(other.load(), 1);
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  Event ev;
  ASSERT_TRUE(ev.create(Event::Reset::automatic));
  std::atomic<int> woke{0};
  Thread t[2];
  for (auto& th : t)
    ASSERT_TRUE(th.start([&] {
      if (ev.wait(3000)) ++woke;
    }));
  sleep_ms(50);
  ev.set();
  sleep_ms(200);
  EXPECT_EQ(woke.load(), 1);
  ev.set();
  for (auto& th : t) ASSERT_TRUE(th.join(5000));
  EXPECT_EQ(woke.load(), 2);
  EXPECT_FALSE(ev.wait(0)) << "each set was consumed";
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  Event ev;
  ASSERT_TRUE(ev.create(Event::Reset::manual));
  std::atomic<int> woke{0};
  Thread t[3];
  for (auto& th : t)
    ASSERT_TRUE(th.start([&] {
      if (ev.wait(5000)) ++woke;
    }));
  sleep_ms(50);
  ev.set();
  for (auto& th : t) ASSERT_TRUE(th.join(5000));
  EXPECT_EQ(woke.load(), 3);
  EXPECT_TRUE(ev.wait(0));
  ev.reset();
  EXPECT_FALSE(ev.wait(0));
}

TEST(Event, WaitTimesOutAndInitialStateIsKept) {
  Event ev;
  ASSERT_TRUE(ev.create(Event::Reset::automatic, true));
  EXPECT_TRUE(ev.wait(0));
  Tick start = tick_now();
  EXPECT_FALSE(ev.wait(60));
  EXPECT_GE(ticks_elapsed(tick_now(), start), 50u);
  Event none;
  EXPECT_FALSE(none.wait(0)) << "an event never created is never signalled";
  none.set();  // harmless
}

TEST(Thread, JoinTimesOutWhileRunningAndSucceedsAfter) {
  Event release;
  ASSERT_TRUE(release.create(Event::Reset::manual));
  std::atomic<bool> ran{false};
  Thread t;
  ASSERT_TRUE(t.start([&] {
    release.wait(kInfinite);
    ran = true;
  }));
  EXPECT_FALSE(t.start([] {})) << "one thread per object";
  EXPECT_FALSE(t.join(50));
  EXPECT_TRUE(t.joinable());
  release.set();
  EXPECT_TRUE(t.join(5000));
  EXPECT_FALSE(t.joinable());
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(t.join(0)) << "joining nothing is done at once";
}

struct Shared {
  Event go;
  std::atomic<bool> finished{false};
};

void plain_entry(void* p) {
  auto* s = static_cast<Shared*>(p);
  s->go.wait(kInfinite);
  s->finished = true;
}

TEST(Thread, DetachedThreadRunsOn) {
  // Outlives its Thread object: that is how a stuck worker is left behind at shutdown.
  static Shared s;
  ASSERT_TRUE(s.go.create(Event::Reset::manual));
  {
    Thread t;
    ASSERT_TRUE(t.start(plain_entry, &s));
  }
  s.go.set();
  for (int i = 0; i < 500 && !s.finished; ++i) sleep_ms(10);
  EXPECT_TRUE(s.finished.load());
}

TEST(Thread, ProcessIdIsKnown) { EXPECT_NE(current_process_id(), 0u); }

}  // namespace
}  // namespace ks
