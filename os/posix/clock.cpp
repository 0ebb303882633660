#include "os/clock.h"

#include <ctime>
#include <cerrno>

namespace ks {

uint64_t tick_now64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

Tick tick_now() { return static_cast<Tick>(tick_now64()); }

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

}  // namespace ks
