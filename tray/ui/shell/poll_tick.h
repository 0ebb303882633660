// The tray program's once-a-second work, in its fixed order, and the module-log scan it begins
// with. The steps are an interface so the order and the message-clearing rules are tested.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tray/services/status_link.h"
#include "tray/ui/model/ui_state.h"

namespace ks::tray {

inline constexpr size_t kModuleLogTail = 65536;  // bytes of a module log the scan reads
inline constexpr size_t kFaultLineMax = 159;     // characters kept of the last fault line

// The faults of one module log's last session: the count of lines since the last start marker
// that hold "ACCESS VIOLATION", "FAULTED" or "UNSUPPORTED LV1 BUILD", and the last such line
// (without its line end). `tail` is the file's last bytes; a first partial line is counted too.
int scan_module_log(std::string_view tail, std::string& last_line);

struct FaultSummary {
  uint32_t count = 0;
  std::string last_line;  // kept until a later scan finds a newer one
};
// Folds both logs' scans into the summary: the count is the sum; the X32 line wins when it has
// one; an empty line leaves the stored one.
void fold_fault_scans(FaultSummary& s, int wing_count, const std::string& wing_line, int x32_count,
                      const std::string& x32_line);

class PollSteps {
public:
  virtual ~PollSteps() = default;
  virtual void scan_module_logs() = 0;
  virtual void load_watch_tick() = 0;
  virtual void update_tick() = 0;
  virtual void locate_install() = 0;
  virtual bool lv1_running() = 0;
  virtual bool selected_block_lv1_loaded() = 0;  // a block is selected and LV1 loaded the module
  virtual TrayState tray_state() = 0;
  virtual void show_state_icon(TrayState old_state, TrayState state) = 0;  // log, icon, NIM_MODIFY
  virtual void refresh_tooltip() = 0;
  virtual void invalidate_dashboard() = 0;
};

// One tick; `shown` is the state the icon shows, updated when it changes.
void run_poll_tick(DashboardUiState& ui, TrayState& shown, PollSteps& steps);

}  // namespace ks::tray
