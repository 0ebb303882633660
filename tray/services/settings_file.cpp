#include "tray/services/settings_file.h"

#include "bridge/text.h"
#include "os/file.h"
#include "os/utf.h"
#include "tray/services/console_table.h"

namespace ks::tray {

namespace {

// A line (without its LF) that sets `key`: the key, then "=" at once. Keys compare without case,
// as the module's reader takes them; a blank before "=" is part of the key and does not match.
bool is_key_line(std::string_view line, std::string_view key) {
  return line.size() > key.size() && line[key.size()] == '=' && istarts_with(line, key);
}

// Calls f(line) for each line, without its LF; a CR before the LF stays on the line.
template <class F>
void each_line(std::string_view text, F&& f) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    bool has_lf = end != std::string_view::npos;
    if (!has_lf) end = text.size();
    f(text.substr(pos, end - pos), has_lf);
    pos = end + 1;
  }
}

bool key_ok(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key)
    if (static_cast<unsigned char>(c) <= ' ' || c == '=' || c == ';' || c == 0x7f) return false;
  return true;
}

bool value_ok(std::string_view value) {
  for (char c : value)
    if (c == '\r' || c == '\n' || c == ';' || c == '\0') return false;
  return true;
}

// Cuts a value to kCfgValueMax bytes without splitting a UTF-8 sequence, and turns bytes that
// are not UTF-8 into U+FFFD.
std::string clean_value(std::string_view v) {
  if (v.size() > kCfgValueMax) {
    size_t n = kCfgValueMax;
    while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
    v = v.substr(0, n);
  }
  return utf16_to_utf8(utf8_to_utf16(v));
}

// The value part of a line: up to LF, CR, ";" or NUL (a NUL ends the text for the module too).
std::string_view value_part(std::string_view v) {
  size_t end = v.find_first_of(std::string_view("\r\n;\0", 4));
  return end == std::string_view::npos ? v : v.substr(0, end);
}

}  // namespace

std::string console_cfg_path(const std::string& install_dir, int console) {
  if (install_dir.empty() || !valid_console(console)) return {};
  return path_join(install_dir, std::string(console_table[console].type_key) + ".cfg");
}

std::string state_cfg_path(const std::string& install_dir) {
  if (install_dir.empty()) return {};
  return path_join(install_dir, "state.cfg");
}

CfgEdit cfg_edit(std::string& text, std::string_view key, std::string_view value) {
  if (!key_ok(key)) return CfgEdit::bad_key;
  if (!value_ok(value) || key.size() + 1 + value.size() > kCfgLineMax) return CfgEdit::bad_value;
  if (text.find('\0') != std::string::npos) return CfgEdit::not_text;

  std::string new_line;
  new_line.append(key).append("=").append(value);
  // Decide after the whole scan: readers take the last key line, so the file is left alone only
  // when every key line already is the new one.
  bool found = false, all_equal = true;
  std::string out;
  out.reserve(text.size() + new_line.size() + 2);
  each_line(text, [&](std::string_view line, bool has_lf) {
    if (has_lf && !line.empty() && line.back() == '\r') line.remove_suffix(1);  // CR LF reads as LF
    if (is_key_line(line, key)) {
      found = true;
      if (!(has_lf && line == new_line)) all_equal = false;
      out.append(new_line).append("\n");
    } else {
      out.append(line);
      if (has_lf) out += '\n';
    }
  });
  if (found && all_equal) return CfgEdit::unchanged;
  if (!found) {
    // A last line without its line end keeps its own line.
    if (!out.empty() && out.back() != '\n') out += '\n';
    out.append(new_line).append("\n");
  }
  text.swap(out);
  return CfgEdit::edited;
}

bool cfg_set(const std::string& path, std::string_view key, std::string_view value) {
  if (path.empty()) return false;
  std::string text;
  switch (read_file(path, kCfgFileCap, text)) {
    case ReadStatus::ok: break;
    case ReadStatus::missing: text.clear(); break;
    // A file we cannot read whole is not replaced by one line: its other settings would be lost.
    case ReadStatus::too_large:
    case ReadStatus::error: return false;
  }
  switch (cfg_edit(text, key, value)) {
    case CfgEdit::unchanged: return true;
    case CfgEdit::edited: return write_file_replace(path, text);
    default: return false;
  }
}

std::string cfg_value(std::string_view text, std::string_view key) {
  std::string_view found;
  bool any = false;
  if (!key_ok(key)) return {};
  each_line(text, [&](std::string_view line, bool) {
    if (line.size() > kCfgLineMax) line = line.substr(0, kCfgLineMax);  // as the module cuts it
    if (is_key_line(line, key)) {
      found = value_part(line.substr(key.size() + 1));
      any = true;
    }
  });
  return any ? clean_value(found) : std::string();
}

std::string cfg_get(const std::string& path, std::string_view key) {
  std::string text;
  if (path.empty() || read_file(path, kCfgFileCap, text) != ReadStatus::ok) return {};
  return cfg_value(text, key);
}

// "%TEMP%" is on line 22: this text must never reach a printf format.
const std::string_view kSettingsTemplate =
    "; Kestrune - edit while eMotion LV1 is closed.\r\n"
    "\r\n"
    "; Which side wins when the desk comes back after a dropout.\r\n"
    ";   desk = re-read the console into LV1. Reads only - it never\r\n"
    ";          writes a preamp. This is the safe default.\r\n"
    ";   lv1  = push LV1's values back to the console. This WRITES\r\n"
    ";          REAL GAIN AND 48V to your hardware. Better once you\r\n"
    ";          trust it, because after a dropout LV1's surface is\r\n"
    ";          what you have been looking at.\r\n"
    "resync=desk\r\n"
    "\r\n"
    "; Opening an LV1 session (or LV1 starting on its last state) sends\r\n"
    "; the session's saved preamp gain and 48V to the console, like\r\n"
    "; Waves' own preamp boxes. off = the console keeps its values.\r\n"
    "session_recall=on\r\n"
    "\r\n"
    "; Inputs that must NEVER have 48V switched on, as <group>:<input>,\r\n"
    "; comma separated. Keyed on the physical input, so it follows the\r\n"
    "; microphone through a repatch. Put your ribbons here at load-in.\r\n"
    "; protect=LCL:3,A:12\r\n"
    "\r\n"
    "; Per-move tracing in %TEMP%\\kestrune.log. Off for shows.\r\n"
    "diag=0\r\n";

bool write_settings_template(const std::string& path) {
  return !path.empty() && write_file_replace(path, std::string(kSettingsTemplate));
}

bool diag_enabled(const std::string& cfg_path) {
  std::string text;
  if (cfg_path.empty() || read_file(cfg_path, kCfgFileCap, text) != ReadStatus::ok) return false;
  bool on = false;
  each_line(text, [&](std::string_view line, bool) {
    if (line.size() > kCfgLineMax) line = line.substr(0, kCfgLineMax);
    // The module's own number reading, so both say the same of "diag=on" or "diag= 2".
    if (is_key_line(line, "diag")) on = parse_decimal(value_part(line.substr(5))) != 0;
  });
  return on;
}

bool set_diag(const std::string& install_dir, bool on) {
  if (install_dir.empty()) return false;
  bool any = false;
  for (int c = 0; c < kConsoleCount; ++c) {
    std::string path = console_cfg_path(install_dir, c);
    if (file_exists(path) && cfg_set(path, "diag", on ? "1" : "0")) any = true;
  }
  return any;
}

}  // namespace ks::tray
