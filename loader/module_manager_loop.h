// The module watcher's rhythm, apart from what a pass does: a pass, then a wait for the
// modules-changed event (or the time the pass asked for), and after a signal a 300 ms pause so
// that the tray program's burst of file copies and its event settle before the next pass.
#pragma once

#include <cstdint>
#include <functional>

#include "os/clock.h"
#include "os/event.h"

namespace ks {

// Runs passes until keep_going() is false. `pass` returns how long to wait for the event
// (kInfinite: no time-out). Without an event (it could not be created) one pass runs and the
// loop ends. A time-out starts the next pass at once.
void run_modules_watcher(Clock& clock, Event* changed, const std::function<uint32_t()>& pass,
                         const std::function<bool()>& keep_going);

}  // namespace ks
