#include "tray/ui/shell/poll_tick.h"

namespace ks::tray {

namespace {

std::string_view line_at(std::string_view text, size_t pos, size_t& next) {
  size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) end = text.size();
  next = end + 1;
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool has(std::string_view line, std::string_view what) {
  return line.find(what) != std::string_view::npos;
}

}  // namespace

int scan_module_log(std::string_view tail, std::string& last_line) {
  last_line.clear();
  // The scan begins after the last start marker.
  size_t start = 0, pos = 0, next = 0;
  while (pos < tail.size()) {
    std::string_view line = line_at(tail, pos, next);
    if (has(line, "---- Wing preamp bridge attached ----") ||
        has(line, "started by the loader ----"))
      start = next;
    pos = next;
  }
  int count = 0;
  for (pos = start; pos < tail.size(); pos = next) {
    std::string_view line = line_at(tail, pos, next);
    if (has(line, "ACCESS VIOLATION") || has(line, "FAULTED") ||
        has(line, "UNSUPPORTED LV1 BUILD")) {
      ++count;
      last_line.assign(line.substr(0, kFaultLineMax));
    }
  }
  return count;
}

void fold_fault_scans(FaultSummary& s, int wing_count, const std::string& wing_line, int x32_count,
                      const std::string& x32_line) {
  s.count = static_cast<uint32_t>(wing_count + x32_count);
  const std::string& kept = x32_count > 0 && !x32_line.empty() ? x32_line : wing_line;
  if (!kept.empty()) s.last_line = kept;
}

void run_poll_tick(DashboardUiState& ui, TrayState& shown, PollSteps& steps) {
  steps.scan_module_logs();
  steps.load_watch_tick();
  steps.update_tick();
  if (ui.setup_open) {
    steps.locate_install();
    const std::string& m = ui.action_message.text;
    if (m == "Starting eMotion LV1\xE2\x80\xA6") {
      if (steps.lv1_running()) ui.action_message.clear();
    } else if (m.rfind("Installed.", 0) == 0 && steps.selected_block_lv1_loaded()) {
      ui.action_message.clear();
    }
  }
  const TrayState now = steps.tray_state();
  if (now != shown) {
    steps.show_state_icon(shown, now);
    shown = now;
  }
  steps.refresh_tooltip();
  steps.invalidate_dashboard();
}

}  // namespace ks::tray
