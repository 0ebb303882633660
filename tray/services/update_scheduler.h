// The updater's frame: the tick's decisions (when to check, when to place a staged release and
// install a pending loader) over a clock and callbacks, so they run the same on any platform.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace ks::tray {

inline constexpr uint64_t kFirstCheckDelayMs = 30000;
inline constexpr uint64_t kCheckIntervalMs = 21600000;  // 6 h
inline constexpr uint64_t kInstallRetryMs = 600000;     // 10 min

// Process-wide, shared with the check thread.
struct UpdaterState {
  std::atomic<uint32_t> busy{0};    // 1 while a check thread runs
  std::atomic<uint32_t> staged{0};  // 1 while a complete staged release waits
  std::atomic<uint64_t> next_check{0};
  std::atomic<uint64_t> loader_retry_at{0};
};

struct SchedulerHooks {
  bool auto_install = false;
  std::function<bool()> ready_marker_present;  // the staged release's marker, non-empty
  std::function<bool()> start_check;           // starts the check thread; false when it cannot
  std::function<bool()> lv1_running;
  std::function<bool()> install_pending;  // the install-pending marker exists
  std::function<bool()>
      restart_into_new_app;  // places the staged release; true when this tick ends
  std::function<bool(std::string& error)> install_loader;
  std::function<void()> remove_install_pending;
  std::function<void(const std::string&)> log;
};

// One tick at `now` (milliseconds of a monotonic clock).
void run_update_scheduler(UpdaterState& state, uint64_t now, const SchedulerHooks& hooks);

}  // namespace ks::tray
