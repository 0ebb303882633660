// The tests' clock: it moves only when a test steps it, so timed code runs without real waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "os/clock.h"

namespace ks {

// A clock that moves only when told to.
//
// Stepped mode (default): sleep() and wait() block the calling thread until a test thread calls
// advance() past their deadline (or the event is set). waiting() and wait_for_waiters() let the
// test know that a thread has reached its wait before stepping.
//
// Auto mode: sleep(ms) and an unsignalled wait(ev, ms) advance the clock by ms and return at
// once, so single-threaded code with retry loops runs instantly and deterministically.
class ManualClock : public Clock {
public:
  enum class Mode { stepped, automatic };
  explicit ManualClock(uint64_t start = 0, Mode mode = Mode::stepped);

  Tick now() override;
  uint64_t now64() override;
  void sleep(uint32_t ms) override;
  bool wait(Event& ev, uint32_t ms) override;

  void advance(uint64_t ms);
  void set(uint64_t now);
  int waiting();
  // Real-time bounded wait until at least `n` threads sit in sleep()/wait(); false on timeout.
  bool wait_for_waiters(int n, uint32_t real_timeout_ms = 5000);
  // Real-time bounded wait until at least `n` threads sit in sleep()/wait() and none of those
  // waits is due, so every thread the last advance() woke has run on to its next wait; false on
  // timeout.
  bool wait_idle(int n, uint32_t real_timeout_ms = 5000);
  uint64_t total_slept() const { return slept_.load(); }

private:
  bool wait_until(uint64_t deadline, Event* ev);

  std::mutex m_;
  std::condition_variable cv_;
  std::atomic<uint64_t> now_;
  std::atomic<uint64_t> slept_{0};
  int waiters_ = 0;
  std::vector<uint64_t> deadlines_;  // one per thread in wait_until
  Mode mode_;
};

}  // namespace ks
