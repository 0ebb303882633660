// The tray program's two console types. A console index (0 WING, 1 X32/M32) selects a row; the
// settings file, the state.cfg key, Waves' card bundle and the status-block suffix follow from it.
#pragma once

#include <cstddef>

namespace ks::tray {

struct ConsoleRow {
  const char* waves_module;  // Waves' card module and bundle name ("SoundGrid Wing Control")
  const char* type_key;      // state.cfg key, settings file stem, status-block suffix ("wing")
  const char* bundle_name;   // the older per-console bundle ("Kestrune WING")
  const char* display_name;  // what the user reads ("Behringer WING")
};

inline constexpr ConsoleRow console_table[2] = {
    {"SoundGrid Wing Control", "wing", "Kestrune WING", "Behringer WING"},
    {"SoundGrid X-WSG Control", "x32", "Kestrune X32", "Behringer X32 / Midas M32"},
};

inline constexpr int kConsoleCount = 2;

inline constexpr bool valid_console(int index) { return index >= 0 && index < kConsoleCount; }

}  // namespace ks::tray
