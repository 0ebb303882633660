// The device-state notifier's debounce: after a first signal, wait until a whole quiet period
// passes without another one, so a burst of gain moves gives LV1 one notice.
#pragma once

#include <cstdint>

#include "os/clock.h"
#include "os/event.h"

namespace ks {

constexpr uint32_t kStateQuietMs = 400;

// Blocks until ev is signalled, then until quiet_ms pass with no further signal.
void wait_for_quiet(Clock& clock, Event& ev, uint32_t quiet_ms);

}  // namespace ks
