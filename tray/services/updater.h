// The updater as the tray program drives it: its tick on the 1000 ms poll timer, the staged
// flag, and the self-update finisher at start-up. Windows only (win/updater_machine.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tray/services/update_scheduler.h"

namespace ks::tray {

// What the tray program lends the tick; it stays the program's.
struct UpdateHost {
  void* tray_window = nullptr;  // HWND; gets WM_CLOSE when a new copy takes over
  std::function<std::string()>
      install_folder;                  // the installed bundle's Contents\Win64, "" when none
  std::function<bool()> auto_install;  // installed, and not the older 2.x layout
  std::function<bool()> lv1_running;
  std::function<bool(std::string& error)> install_loader;  // install_bundle
  std::function<void()> deferred_install_tick;
  std::function<void(const std::string&)> log;  // null: tray_log
};

// The process-wide updater words.
UpdaterState& updater_state();

// One tick at the monotonic clock's now; update_tick_at lets a caller give the time.
void update_tick(const UpdateHost& host);
void update_tick_at(const UpdateHost& host, uint64_t now_ms);

// A complete staged release waits.
bool update_staged();
// A check thread is running.
bool update_busy();

// Called once at start-up with the raw command line: removes <exe>.old, and with "--updated=<pid>"
// waits up to 15 s for that process to end and removes it again.
void finish_self_update(const std::u16string& command_line);

// Kestrune\updates under the local application data folder; "" when it cannot be found.
std::string updates_folder();
std::string staged_folder();
std::string install_pending_path();
// The running program's folder (no trailing separator) and full path.
std::string app_folder();
std::string app_exe_path();

}  // namespace ks::tray
