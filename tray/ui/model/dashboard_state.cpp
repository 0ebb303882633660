#include "tray/ui/model/dashboard_state.h"

#include <cstring>

#include "bridge/text.h"

namespace ks::tray {

namespace {

constexpr size_t kSettingsLineMax = 255;  // what the module reads of a line

// Bytes we are willing to write as the value of `console`: an identity is at most 39 bytes of
// printable text; a control byte or ";" would end or split the line the module reads back.
bool storable_identity(std::string_view id) {
  if (id.empty() || id.size() > 39) return false;
  for (unsigned char c : id)
    if (c < 0x20 || c == 0x7F || c == ';') return false;
  return true;
}

}  // namespace

ConsoleSettings read_console_settings(std::string_view text) {
  ConsoleSettings s;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (line.size() > kSettingsLineMax) line = line.substr(0, kSettingsLineMax);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq);
    std::string_view value = line.substr(eq + 1);
    size_t stop = value.find_first_of("\r\n;");
    if (stop != std::string_view::npos) value = value.substr(0, stop);
    if (iequals(key, "session_recall")) {
      s.session_recall = !istarts_with(value, "off");
    } else if (iequals(key, "resync")) {
      s.resync_lv1 = !iequals(trim_blanks(value), "desk");
    } else if (iequals(key, "ip")) {
      s.ip = std::string(trim_blanks(value));
    } else if (iequals(key, "hint")) {
      s.hint = std::string(trim_blanks(value));
    } else if (iequals(key, "console")) {
      s.console = std::string(value);
    }
  }
  return s;
}

void dashboard_state_init(DashboardState& out) {
  out.lv1_found = 0;
  out.lv1_running = 0;
  out.lv1_exe_present = 0;
  out.lv1_uptime_ms = -1;
  out.lv1_version.clear();
  out.loader_block_present = 0;
  std::memset(&out.loader_block, 0, sizeof out.loader_block);
  for (int t = 0; t < 2; ++t) {
    out.card_module_present[t] = 0;
    out.installed[t] = 0;
    out.on[t] = 0;
    out.session_recall[t] = 1;
    out.resync_lv1[t] = 0;
    out.address_known[t] = 0;
    std::memset(&out.snapshot[t], 0, sizeof out.snapshot[t]);
    out.discovery[t] = DiscoveryRecord{};
    out.hands_off[t] = 0;
    out.link_age_ms[t] = kLinkAgeNever;
    out.legacy[t] = 0;
    out.typed_ip[t].clear();
  }
  out.blocked = 0;
  out.update_pending = 0;
  out.translocated = 0;
  out.outside_applications = 0;
  out.admin_needed = 1;
  out.lv1_network_state = -2;
  out.network_gate = 1;
  out.network_state = 4;
  out.platform = 0;
  out.legacy_any = 0;
  out.identify_offered = 0;
}

DashboardState& gather_dashboard_state(DashboardSources& src, DashboardState& out,
                                       LinkAgeMemory& ages) {
  dashboard_state_init(out);
  if (src.whole_picture(out)) {
    out.platform = 1;
    out.network_gate = 0;
    out.identify_offered = 0;
    return out;
  }

  out.lv1_running = src.lv1_running();
  out.lv1_uptime_ms = out.lv1_running ? src.lv1_uptime_ms() : -1;
  if (out.lv1_uptime_ms < -1) out.lv1_uptime_ms = -1;
  out.lv1_version = src.lv1_version();
  out.lv1_found = !out.lv1_version.empty();
  out.lv1_exe_present = src.lv1_exe_present();

  out.loader_block_present = src.read_loader_block(out.loader_block);
  if (!out.loader_block_present) std::memset(&out.loader_block, 0, sizeof out.loader_block);

  out.blocked = src.load_blocked();
  out.update_pending = src.update_pending();
  out.legacy_any = src.legacy_install();

  for (int t = 0; t < 2; ++t) {
    out.card_module_present[t] = src.card_module_present(t);
    bool on = false;
    out.installed[t] = src.console_module_state(t, on);
    out.on[t] = out.installed[t] && on;
    out.legacy[t] = src.legacy_console(t);
    src.read_status_snapshot(t, out.snapshot[t]);
    if (!out.snapshot[t].present) std::memset(&out.snapshot[t], 0, sizeof out.snapshot[t]);
    out.discovery[t] = src.discovery(t);

    if (out.installed[t]) {
      std::string text;
      ConsoleSettings cfg =
          src.read_settings(t, text) ? read_console_settings(text) : ConsoleSettings{};
      out.session_recall[t] = cfg.session_recall;
      out.resync_lv1[t] = cfg.resync_lv1;
      out.address_known[t] = !cfg.hint.empty() || !cfg.console.empty() || !cfg.ip.empty();
      out.typed_ip[t] = cfg.ip;
      std::string id = src.confirm_typed_address(t, out.snapshot[t], cfg.console);
      if (!id.empty()) {
        if (!storable_identity(id)) {
          src.log(
              "[setup] the console at the typed address gave an identity that cannot be stored - console not saved");
        } else if (!src.write_setting(t, "console", id)) {
          src.log("[setup] could not save console=" + id);
        }
      }
    }
    out.hands_off[t] = out.loader_block_present && out.loader_block.hands_off[t] != 0;
  }

  update_link_ages(out, src.steady_ms(), ages);
  out.platform = 1;
  out.network_gate = 0;
  out.identify_offered = 0;
  return out;
}

void update_link_ages(DashboardState& state, uint64_t now_ms, LinkAgeMemory& ages) {
  uint64_t now = now_ms ? now_ms : 1;
  for (int t = 0; t < 2; ++t) {
    if (desk_up(state.snapshot[t])) ages.last_up[t] = now;
    if (!state.lv1_running) ages.last_up[t] = 0;
    if (ages.last_up[t] == 0) {
      state.link_age_ms[t] = kLinkAgeNever;
    } else {
      uint64_t age = now >= ages.last_up[t] ? now - ages.last_up[t] : 0;
      state.link_age_ms[t] = age >= kLinkAgeNever ? kLinkAgeNever - 1 : uint32_t(age);
    }
  }
}

int code_rank(uint32_t code) {
  static constexpr uint32_t order[] = {0, 13, 1, 15, 2, 4, 3, 16, 12, 5, 6, 7, 8, 9, 10, 14, 11};
  for (int i = 0; i < int(sizeof order / sizeof order[0]); ++i)
    if (order[i] == code) return i;
  return 99;
}

void snapshot_from_block(const StatusBlock& b, StatusSnapshot& out) {
  std::memset(&out, 0, sizeof out);
  if (b.magic != kStatusMagic) return;
  out.present = 1;
  out.desk_answering = b.desk_answering;
  out.lv1_loaded = b.lv1_loaded;
  out.version = b.version;
  std::memcpy(out.status_text, b.status_text, sizeof out.status_text);
  std::memcpy(out.desk_line, b.desk_line, sizeof out.desk_line);
  std::memcpy(out.has_head_amp, b.has_head_amp, sizeof out.has_head_amp);
  std::memcpy(out.src_bank, b.src_bank, sizeof out.src_bank);
  std::memcpy(out.src_input, b.src_input, sizeof out.src_input);
  if (b.version >= 15) {
    out.discovery_decision = b.discovery_decision;
    out.answer_count = b.answer_count;
    std::memcpy(out.answers, b.answers, sizeof out.answers);
    std::memcpy(out.chosen_console, b.chosen_console, sizeof out.chosen_console);
  }
  if (b.version >= 16) {
    out.source_device_count = b.source_device_count;
    std::memcpy(out.source_devices, b.source_devices, sizeof out.source_devices);
    for (auto& d : out.source_devices) d.port[kBankBytes - 1] = '\0';  // bank text: 7 characters
  }
  if (b.version >= 17) {
    out.address_state = b.address_state;
    out.address_moves = b.address_moves;
    std::memcpy(out.address_ip, b.address_ip, sizeof out.address_ip);
    std::memcpy(out.address_id, b.address_id, sizeof out.address_id);
    std::memcpy(out.address_name, b.address_name, sizeof out.address_name);
  }
}

}  // namespace ks::tray
