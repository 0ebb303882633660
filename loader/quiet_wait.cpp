#include "loader/quiet_wait.h"

namespace ks {

void wait_for_quiet(Clock& clock, Event& ev, uint32_t quiet_ms) {
  clock.wait(ev, kInfinite);
  while (clock.wait(ev, quiet_ms)) {}
}

}  // namespace ks
