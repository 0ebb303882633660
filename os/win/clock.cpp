#include "os/clock.h"

#include <windows.h>

namespace ks {

Tick tick_now() { return GetTickCount(); }
uint64_t tick_now64() { return GetTickCount64(); }
void sleep_ms(uint32_t ms) { Sleep(ms == kInfinite ? INFINITE : ms); }

}  // namespace ks
