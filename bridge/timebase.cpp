#include "bridge/timebase.h"

#include <atomic>

namespace ks {

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

Clock& bridge_clock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : system_clock();
}

void set_bridge_clock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

}  // namespace ks
