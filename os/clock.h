// Millisecond ticks, sleeps, and the clock seam that timed code takes so tests can step time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <condition_variable>
#include <vector>

namespace ks {

class Event;

// 32-bit millisecond tick (GetTickCount on Windows). It wraps every 49.7 days, so ticks are only
// ever compared through the two helpers below, never with < or >.
using Tick = uint32_t;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds from `then` to `now`, correct across the wrap when less than 2^32 ms apart.
constexpr uint32_t ticks_elapsed(Tick now, Tick then) { return now - then; }

// True when `a` lies before `b` (within half the tick range, across the wrap).
constexpr bool tick_before(Tick a, Tick b) { return static_cast<int32_t>(a - b) < 0; }

// True when `deadline` has been reached at `now`.
constexpr bool tick_reached(Tick now, Tick deadline) { return !tick_before(now, deadline); }

Tick tick_now();         // system tick, 32-bit
uint64_t tick_now64();   // system tick, 64-bit (GetTickCount64), never wraps
void sleep_ms(uint32_t ms);

// The clock and waits of timed code. Production code gets system_clock(); tests hand in a
// ManualClock and step it.
class Clock {
public:
  virtual ~Clock() = default;
  virtual Tick now() = 0;
  virtual uint64_t now64() = 0;
  virtual void sleep(uint32_t ms) = 0;
  // Waits up to `ms` for `ev`; true when it was signalled (an auto-reset event is consumed).
  virtual bool wait(Event& ev, uint32_t ms) = 0;
  // Waits up to `ms` or until `ev` is signalled; true when signalled. With no event, sleeps.
  bool wait_stop(Event* ev, uint32_t ms);
};

Clock& system_clock();

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
