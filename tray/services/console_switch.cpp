#include "tray/services/console_switch.h"

#include "bridge/text.h"
#include "os/file.h"
#include "shared/names.h"
#include "tray/services/console_table.h"
#include "tray/services/settings_file.h"

namespace ks::tray {

namespace {

constexpr size_t kStatePieceMax = 127;  // bytes a state.cfg read takes at most, as the loader's

}  // namespace

bool state_says_on(std::string_view text, int console) {
  if (!valid_console(console)) return true;
  const std::string_view type = console_table[console].type_key;
  bool on = true;
  size_t pos = 0;
  while (pos < text.size()) {
    // One piece as the loader reads it: up to and including LF, at most 127 bytes, so the tray
    // shows what the loader will do with the same file.
    size_t end = pos;
    while (end < text.size() && end - pos < kStatePieceMax)
      if (text[end++] == '\n') break;
    std::string_view piece = text.substr(pos, end - pos);
    pos = end;
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    if (iequals(piece.substr(0, eq), type)) on = !istarts_with(piece.substr(eq + 1), "off");
  }
  return on;
}

std::string installed_state_cfg(bool wing_on, bool x32_on) {
  std::string s;
  s.append(console_table[0].type_key).append(wing_on ? "=on\r\n" : "=off\r\n");
  s.append(console_table[1].type_key).append(x32_on ? "=on\r\n" : "=off\r\n");
  return s;
}

bool console_module_state(const std::string& install_dir, int console, const InstallProbe& probe,
                          bool& on) {
  if (install_dir.empty() || !valid_console(console)) return false;
  if (!probe.is_own_module || !probe.is_own_module(path_join(install_dir, "Kestrune.dll")))
    return false;
  if (!probe.card_module_path) return false;
  const std::string card = probe.card_module_path(console);
  if (card.empty() || !file_exists(card)) return false;
  std::string text;
  // A missing or unreadable state.cfg reads as empty: the console is on.
  if (read_file(state_cfg_path(install_dir), kCfgFileCap, text) != ReadStatus::ok) text.clear();
  on = state_says_on(text, console);
  return true;
}

bool set_module_enabled(const std::string& install_dir, int console, bool on,
                        std::string& message) {
  const std::string path = state_cfg_path(install_dir);
  if (valid_console(console) && cfg_set(path, console_table[console].type_key, on ? "on" : "off")) {
    signal_modules_changed();
    return true;
  }
  message = "Could not write " + path + ".";
  return false;
}

void signal_modules_changed() { set_event_if_exists(kModulesChangedEventName); }

bool find_on_off_request(std::string_view command_line, OnOffRequest& out) {
  out = OnOffRequest{};
  constexpr std::string_view on_opt = "--on=", off_opt = "--off=";
  size_t at = command_line.find(on_opt);
  size_t skip = on_opt.size();
  if (at != std::string_view::npos) {
    out.on = true;
  } else {
    at = command_line.find(off_opt);
    skip = off_opt.size();
    if (at == std::string_view::npos) return false;
  }
  std::string_view rest = command_line.substr(at + skip);
  for (int c = 0; c < kConsoleCount; ++c) {
    if (istarts_with(rest, console_table[c].type_key)) {
      out.console = c;
      break;
    }
  }
  return true;
}

}  // namespace ks::tray
