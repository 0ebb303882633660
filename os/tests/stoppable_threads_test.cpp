// Threads that run until told to stop: runs, stops, threads left behind, starts during a stop.
#include "os/stoppable_threads.h"

#include <gtest/gtest.h>

#include <atomic>

namespace ks {
namespace {

using Budget = StoppableThreads::Budget;

template <class F>
bool eventually(F cond, uint32_t ms = 5000) {
  Tick start = tick_now();
  while (!cond()) {
    if (ticks_elapsed(tick_now(), start) > ms) return false;
    sleep_ms(1);
  }
  return true;
}

// A body that runs until its set stops, counting how many run at once.
struct Worker {
  StoppableThreads* set = nullptr;
  std::atomic<int> running{0}, most{0}, runs{0};
  std::atomic<bool> woke_early{false};

  static void body(void* p) {
    Worker& w = *static_cast<Worker*>(p);
    int now = ++w.running;
    for (int m = w.most.load(); now > m && !w.most.compare_exchange_weak(m, now);) {}
    ++w.runs;
    while (!w.set->wait_stop(system_clock(), 1000)) {}
    --w.running;
  }
};

// A body that ignores the stop until the test lets it go.
struct Holder {
  Event release;
  std::atomic<int> ended{0};
  Holder() { release.create(Event::Reset::manual); }
  static void body(void* p) {
    Holder& h = *static_cast<Holder*>(p);
    h.release.wait(10000);
    ++h.ended;
  }
};

TEST(StoppableThreads, ARunStartsEachThreadOnceAndAStopJoinsThemAll) {
  StoppableThreads set;
  Worker a, b;
  a.set = b.set = &set;
  EXPECT_EQ(set.stop_event(), nullptr) << "no event before the first start";
  {
    StoppableThreads::Start start(set);
    EXPECT_FALSE(start.running());
    EXPECT_FALSE(start.left_over());
    ASSERT_TRUE(start.launch(0, Worker::body, &a));
    ASSERT_TRUE(start.launch(1, Worker::body, &b));
  }
  EXPECT_TRUE(set.running());
  {
    StoppableThreads::Start again(set);
    EXPECT_TRUE(again.running()) << "a second start finds the run going";
    EXPECT_FALSE(again.launch(0, Worker::body, &a)) << "the slot's thread is alive";
  }
  ASSERT_TRUE(eventually([&] { return a.runs == 1 && b.runs == 1; }));
  StoppableThreads::Stopped r = set.stop(5000, Budget::kEach);
  EXPECT_TRUE(r.was_running);
  EXPECT_EQ(r.left, 0);
  EXPECT_FALSE(set.running());
  EXPECT_EQ(set.live(), 0);
  EXPECT_EQ(a.running + b.running, 0) << "stop returns after the threads ended";
  EXPECT_FALSE(set.stop(5000, Budget::kEach).was_running) << "nothing left to stop";
}

TEST(StoppableThreads, AfterACleanStopWaitsTimeOutAgainAndANewRunStarts) {
  StoppableThreads set;
  Worker w;
  w.set = &set;
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Worker::body, &w));
  }
  ASSERT_TRUE(eventually([&] { return w.runs == 1; }));
  EXPECT_EQ(set.stop(5000, Budget::kShared).left, 0);
  ASSERT_NE(set.stop_event(), nullptr);
  EXPECT_FALSE(set.stop_event()->wait(0)) << "the event of a finished stop is reset";
  EXPECT_TRUE(set.wait_stop(system_clock(), 5000)) << "not running: no wait";

  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Worker::body, &w));
  }
  ASSERT_TRUE(eventually([&] { return w.runs == 2; }));
  sleep_ms(20);
  EXPECT_EQ(w.running.load(), 1) << "the new run's waits do not end at once";
  EXPECT_EQ(set.stop(5000, Budget::kEach).left, 0);
  EXPECT_EQ(w.most.load(), 1);
}

TEST(StoppableThreads, AThreadThatMissesItsWaitIsLeftRunningAndNoNewRunStartsBesideIt) {
  StoppableThreads set;
  Holder h;
  Worker w;
  w.set = &set;
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Holder::body, &h));
    ASSERT_TRUE(start.launch(1, Worker::body, &w));
  }
  StoppableThreads::Stopped r = set.stop(50, Budget::kEach);
  EXPECT_TRUE(r.was_running);
  EXPECT_EQ(r.left, 1);
  EXPECT_TRUE(set.alive(0));
  EXPECT_FALSE(set.alive(1)) << "the other one heard the stop";
  EXPECT_TRUE(set.stop_event()->wait(0)) << "stays set for the thread left running";
  {
    StoppableThreads::Start start(set);
    EXPECT_TRUE(start.left_over());
    EXPECT_FALSE(start.launch(1, Worker::body, &w)) << "no slot starts while one is left over";
  }
  h.release.set();
  ASSERT_TRUE(eventually([&] { return !set.alive(0); }));
  {
    StoppableThreads::Start start(set);
    EXPECT_FALSE(start.left_over());
    ASSERT_TRUE(start.launch(0, Worker::body, &w));
  }
  EXPECT_EQ(set.stop(5000, Budget::kEach).left, 0);
  EXPECT_EQ(h.ended.load(), 1);
}

TEST(StoppableThreads, EachThreadGetsTheWholeBudgetOrAllShareOne) {
  constexpr uint32_t kBudget = 400;
  struct Case {
    Budget budget;
    bool shared;
  };
  for (Case c : {Case{Budget::kEach, false}, Case{Budget::kShared, true}}) {
    StoppableThreads set;
    Holder h1, h2;
    {
      StoppableThreads::Start start(set);
      ASSERT_TRUE(start.launch(0, Holder::body, &h1));
      ASSERT_TRUE(start.launch(1, Holder::body, &h2));
    }
    uint64_t t0 = tick_now64();
    StoppableThreads::Stopped r = set.stop(kBudget, c.budget);
    uint64_t spent = tick_now64() - t0;
    EXPECT_EQ(r.left, 2) << "each thread left running is counted";
    if (c.shared)
      EXPECT_LT(spent, 2 * kBudget - 100) << "both within one budget";
    else
      EXPECT_GE(spent, 2 * kBudget - 20) << "one budget after the other";
    h1.release.set();
    h2.release.set();
    ASSERT_TRUE(eventually([&] { return set.live() == 0; }));
  }
}

Event g_other;  // a wait of the body's own, which only `wake` ends
std::atomic<bool> g_running_when_woken{true};
StoppableThreads* g_wake_set = nullptr;

TEST(StoppableThreads, WakeEndsTheThreadsOtherWaitsAfterRunningIsCleared) {
  StoppableThreads set;
  g_wake_set = &set;
  ASSERT_TRUE(g_other.create(Event::Reset::manual));
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(2, [](void*) {
      g_other.wait(10000);
      g_running_when_woken = g_wake_set->running();
    }));
  }
  StoppableThreads::Stopped r = set.stop(5000, Budget::kEach, [] { g_other.set(); });
  EXPECT_EQ(r.left, 0);
  EXPECT_FALSE(g_running_when_woken.load());
}

TEST(StoppableThreads, AbandonedRunStopsAndItsThreadsEndOnTheirOwn) {
  StoppableThreads set;
  Worker w;
  w.set = &set;
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Worker::body, &w));
    EXPECT_FALSE(start.launch(StoppableThreads::kMaxThreads, Worker::body, &w));
    start.abandon();
    EXPECT_FALSE(start.running());
  }
  ASSERT_TRUE(eventually([&] { return set.live() == 0; }));
  EXPECT_FALSE(set.stop(5000, Budget::kEach).was_running);
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Worker::body, &w));
  }
  EXPECT_EQ(set.stop(5000, Budget::kEach).left, 0);
  EXPECT_EQ(w.runs.load(), 2);
}

TEST(StoppableThreads, LaunchRefusesBadSlotsAndMissingBodies) {
  StoppableThreads set;
  StoppableThreads::Start start(set);
  EXPECT_FALSE(start.launch(-1, Holder::body));
  EXPECT_FALSE(start.launch(StoppableThreads::kMaxThreads, Holder::body));
  EXPECT_FALSE(start.launch(0, nullptr));
  EXPECT_FALSE(start.running()) << "a refused launch starts no run";
}

// A thread that, told to stop, tries to start a sibling: with a start that must not wait it is
// refused at once and the stop ends in time; a start that may wait gets in after the stop.
struct Starter {
  StoppableThreads* set;
  std::atomic<int> refused{0};
  Holder* late;
  static void body(void* p) {
    Starter& s = *static_cast<Starter*>(p);
    while (!s.set->wait_stop(system_clock(), 1000)) {}
    StoppableThreads::Start start(*s.set, false);
    if (start.stopping() && !start.launch(1, Holder::body, s.late)) ++s.refused;
  }
};

TEST(StoppableThreads, StartsDuringAStopAreRefusedOrWaitForIt) {
  StoppableThreads set;
  Holder late, held;
  Starter s{&set, {}, &late};
  {
    StoppableThreads::Start start(set);
    ASSERT_TRUE(start.launch(0, Starter::body, &s));
    ASSERT_TRUE(start.launch(2, Holder::body, &held));
  }
  std::atomic<bool> started{false};
  Thread stopper, starter;
  ASSERT_TRUE(stopper.start([&] {
    StoppableThreads::Stopped r = set.stop(5000, Budget::kShared);
    EXPECT_EQ(r.left, 0);
  }));
  ASSERT_TRUE(eventually([&] { return s.refused == 1; })) << "the sibling's start did not wait";
  ASSERT_TRUE(starter.start([&] {
    StoppableThreads::Start start(set);  // waits for the stop
    // The stop has joined its threads (the stopper may not have marked it done yet).
    EXPECT_FALSE(set.alive(2));
    EXPECT_FALSE(set.alive(0));
    EXPECT_FALSE(start.stopping());
    started = start.launch(0, Holder::body, &late);
  }));
  sleep_ms(50);
  EXPECT_FALSE(started.load()) << "the start waits while the stop still waits for a thread";
  held.release.set();
  ASSERT_TRUE(stopper.join(10000));
  ASSERT_TRUE(starter.join(10000));
  EXPECT_TRUE(started.load());
  late.release.set();
  EXPECT_EQ(set.stop(5000, Budget::kEach).left, 0);
}

// Many starts and stops from several threads at once: never two runs side by side, and every
// stop that found a run ended it.
TEST(StoppableThreads, ConcurrentStartsAndStopsNeverRunTwoSetsAtOnce) {
  StoppableThreads set;
  Worker w;
  w.set = &set;
  std::atomic<int> left{0};
  Thread callers[4];
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(callers[i].start([&, i] {
      for (int round = 0; round < 200; ++round) {
        if ((round + i) % 2 == 0) {
          StoppableThreads::Start start(set);
          if (!start.running() && !start.left_over()) start.launch(0, Worker::body, &w);
        } else {
          left += set.stop(5000, Budget::kEach).left;
        }
      }
    }));
  for (Thread& t : callers) ASSERT_TRUE(t.join(60000));
  set.stop(5000, Budget::kEach);
  EXPECT_EQ(left.load(), 0);
  EXPECT_EQ(w.most.load(), 1);
  EXPECT_EQ(set.live(), 0);
  EXPECT_GT(w.runs.load(), 0);
}

}  // namespace
}  // namespace ks
