// What the module scenarios share: paths from the build, a clock, and the tray program's side
// of the modules-changed event.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "shared/names.h"
#include "sim/lv1/scenario/wine_paths.h"

namespace ks::sim {

inline double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Sets Local\KestruneModulesChanged as the tray program does. The loader's watcher thread makes
// the event when it starts, which may be a moment after LV1's first calls: retry a while.
inline void signal_modules_changed() {
  HANDLE ev = nullptr;
  for (int i = 0; i < 500 && !ev; ++i) {
    ev = OpenEventW(EVENT_MODIFY_STATE, FALSE,
                    reinterpret_cast<const wchar_t*>(kModulesChangedEventNameU16));
    if (!ev) Sleep(10);
  }
  ASSERT_NE(ev, nullptr) << "the loader's watcher has not made the event";
  SetEvent(ev);
  CloseHandle(ev);
}

}  // namespace ks::sim
