// The one clock and wait of the framework's timed code. The module runs on the system clock;
// tests hand in a clock they step instead of sleeping.
#pragma once

#include <cstdint>

#include "os/clock.h"

namespace ks {

Clock& bridge_clock();
// Null puts the system clock back.
void set_bridge_clock(Clock* clock);

inline Tick clock_now() { return bridge_clock().now(); }
inline uint64_t clock_now64() { return bridge_clock().now64(); }

// At least `ms` milliseconds from `then` to `now`, across the tick wrap.
inline bool ticks_elapsed_at_least(Tick now, Tick then, uint32_t ms) {
  return ticks_elapsed(now, then) >= ms;
}

}  // namespace ks
