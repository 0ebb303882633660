// A set of threads that run until told to stop: one stop event they all wait on, a start lock,
// timed joins, and no second run while a thread that outlasted its stop's wait still runs (it
// would share the first one's state).
#pragma once

#include <atomic>
#include <cstdint>

#include "os/clock.h"
#include "os/event.h"
#include "os/lock.h"
#include "os/thread.h"

namespace ks {

class StoppableThreads {
public:
  static constexpr int kMaxThreads = 4;

  // kEach: every thread gets the whole budget in turn. kShared: all of them together get it.
  enum class Budget { kEach, kShared };

  struct Stopped {
    bool was_running = false;  // false: there was nothing to stop
    int left = 0;              // threads that did not end within the budget, left running
  };

  StoppableThreads() = default;
  StoppableThreads(const StoppableThreads&) = delete;
  StoppableThreads& operator=(const StoppableThreads&) = delete;

  // From the first launch of a run until its stop begins.
  bool running() const { return running_.load(std::memory_order_acquire); }
  // Set by stop; null before the first start. Waits on it end as soon as a stop begins.
  Event* stop_event() { return events_ready_.load(std::memory_order_acquire) ? &stop_ : nullptr; }
  // Waits up to `ms` through `clock` for a stop; true when the set is to stop.
  bool wait_stop(Clock& clock, uint32_t ms);
  // The thread started in `slot` has not returned yet (one left behind by a stop included).
  bool alive(int slot) const;
  int live() const;

  // One start, under the start lock. A stop in progress is waited for first, unless the start
  // is one that must not wait (then stopping() is true and nothing launches).
  class Start {
  public:
    explicit Start(StoppableThreads& set, bool wait_for_stop = true);
    ~Start();
    Start(const Start&) = delete;
    Start& operator=(const Start&) = delete;

    bool running() const { return set_.running(); }
    bool stopping() const { return set_.stopping_; }
    // A thread of an earlier run is still alive: nothing may start until it has returned.
    bool left_over() const { return !set_.running() && set_.live() > 0; }
    // Starts fn(arg) in `slot`. The first launch of a run resets the stop event and sets the
    // set running. False while stopping or left over, for a slot whose thread is alive, or when
    // the system gives no thread or event.
    bool launch(int slot, void (*fn)(void*), void* arg = nullptr);
    // Gives up a run that could not launch all it needs: it stops at once, and the threads it
    // did launch end on their own (they count as alive until they do).
    void abandon();

  private:
    StoppableThreads& set_;
  };

  // Ends the run: clears running, sets the stop event, calls `wake` (to end the threads' other
  // waits), then joins every thread within the budget. A thread that does not end is left
  // running and counted; its stop event stays set. After a stop that left nothing running the
  // event is reset, so a later wait on it times out as one before the first start does.
  // A stop that finds another in progress waits for it and then has nothing to stop.
  Stopped stop(uint32_t budget_ms, Budget budget, void (*wake)() = nullptr);

private:
  struct Slot {
    Thread thread;
    std::atomic<bool> alive{false};
    void (*fn)(void*) = nullptr;
    void* arg = nullptr;
  };
  static void run(void* slot);
  bool ensure_events();
  // Start lock held. Waits until no stop is in progress.
  void wait_idle();

  CriticalSection lock_;
  Event stop_;
  Event idle_;  // manual reset: set while no stop is in progress
  std::atomic<bool> events_ready_{false};
  std::atomic<bool> running_{false};
  bool stopping_ = false;  // lock_
  Slot slots_[kMaxThreads];
};

}  // namespace ks
