// Millisecond ticks, sleeps, and the clock seam that timed code takes so tests can step time.
#pragma once

#include <cstdint>

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

Tick tick_now();        // system tick, 32-bit
uint64_t tick_now64();  // system tick, 64-bit (GetTickCount64), never wraps
void sleep_ms(uint32_t ms);

// The clock and waits of timed code. Production code gets system_clock(); tests hand in a clock
// of their own and step it.
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

}  // namespace ks
