#include "os/clock.h"

#include "os/event.h"

namespace ks {

bool Clock::wait_stop(Event* ev, uint32_t ms) {
  if (ev && ev->valid()) return wait(*ev, ms);
  sleep(ms);
  return false;
}

namespace {

class SystemClock final : public Clock {
public:
  Tick now() override { return tick_now(); }
  uint64_t now64() override { return tick_now64(); }
  void sleep(uint32_t ms) override { sleep_ms(ms); }
  bool wait(Event& ev, uint32_t ms) override { return ev.wait(ms); }
};

}  // namespace

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

}  // namespace ks
