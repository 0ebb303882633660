#include "bridge/config.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "bridge/host.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "os/file.h"

namespace ks {

namespace {

constexpr size_t kConfigReadCap = 1 << 20;  // a settings file is a few hundred bytes

struct Line {
  std::string_view text;  // without LF, cut at a NUL; may end in CR
  bool nul;               // a NUL byte ended the line early
};

// Splits text at LF. A line ends at its first NUL: nothing after one is read, so no value keeps
// bytes a C string would not show and no check looks at text the value never holds.
template <class F>
void for_each_line(std::string_view text, F&& f) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    f(Line{line, nul != std::string_view::npos});
    pos = end + 1;
  }
}

// The value after "=": ends at the first LF, CR or ";".
std::string_view value_part(std::string_view v) {
  size_t end = v.find_first_of("\r\n;");
  return end == std::string_view::npos ? v : v.substr(0, end);
}

// ip, hint and console: blanks around the value dropped, and dropped again after the cut to the
// field, so that a value cut short never ends in a blank.
void copy_trimmed(char* dst, size_t cap, std::string_view v) {
  v = trim_blanks(v);
  if (v.size() > cap - 1) v = v.substr(0, cap - 1);
  copy_text(dst, cap, trim_blanks(v));
}

// Text from the file or the dashboard as a log line may show it: at most 40 characters, control
// characters as '?'.
std::string shown(std::string_view v) {
  std::string out;
  for (size_t i = 0; i < v.size() && i < 40; ++i) {
    unsigned char c = static_cast<unsigned char>(v[i]);
    out += (c < 0x20 || c == 0x7F) ? '?' : char(c);
  }
  return out;
}

// Characters that end a protect entry in the file.
constexpr const char* kProtectSeparators = ", \t;";

// A bank the file can carry and give back unchanged: 1 to 7 characters, none of them a separator,
// the colon or a control character.
bool protect_bank_ok(std::string_view bank) {
  if (bank.empty() || bank.size() > 7) return false;
  for (char ch : bank) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == ':' || std::strchr(kProtectSeparators, ch)) return false;
  }
  return true;
}

void logf(const ConfigLog& log, const char* fmt, ...) KS_PRINTF(2, 3);
void logf(const ConfigLog& log, const char* fmt, ...) {
  if (!log) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  log(buf);
}

}  // namespace

void config_defaults(ConsoleConfig& cfg) {
  std::memset(&cfg, 0, sizeof cfg);
  copy_text(cfg.bank, sizeof cfg.bank, "LCL");
  cfg.base = 1;
  cfg.watch = 64;
  cfg.notify = true;
  copy_text(cfg.card, sizeof cfg.card, "MOD");
  cfg.resync_lv1 = true;
  cfg.diag = false;
  cfg.session_recall = true;
}

bool protect_entry_parse(std::string_view entry, ConsoleConfig& cfg, const ConfigLog& log) {
  size_t colon = entry.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view bank = entry.substr(0, colon);
  std::string_view num = entry.substr(colon + 1);
  if (bank.empty()) return false;
  int32_t input = parse_decimal(num);
  if (input < 1) return false;
  // A bank name that does not fit, or an input the status block cannot show, would protect
  // some other input than the one written: skip it and say so.
  if (!protect_bank_ok(bank) || input > 65535) {
    logf(log, "[48V] protect entry %s is not a desk input - ignored", shown(entry).c_str());
    return false;
  }
  for (int i = 0; i < cfg.protect_count; ++i)
    if (cfg.protect[i].input == uint32_t(input) && iequals(cfg.protect[i].bank, bank)) return false;
  if (cfg.protect_count >= kProtectMax) {
    logf(log, "[48V] protect list is full (%d) - %.*s %d NOT protected", kProtectMax, int(bank.size()),
         bank.data(), input);
    return false;
  }
  ProtectedInput& e = cfg.protect[cfg.protect_count];
  copy_text(e.bank, sizeof e.bank, bank);
  e.input = uint32_t(input);
  ++cfg.protect_count;
  return true;
}

void config_parse(std::string_view text, ConsoleConfig& cfg, const ConfigLog& log) {
  int line_no = 0;
  for_each_line(text, [&](const Line& line) {
    ++line_no;
    if (line.nul) logf(log, "[cfg] line %d holds a NUL byte - the rest of it is ignored", line_no);
    std::string_view l = line.text;
    size_t eq = l.substr(0, kConfigLineMax).find('=');
    bool protect = eq != std::string_view::npos && iequals(l.substr(0, eq), "protect");
    // The protect line is read whole up to what 32 entries can need; any other line to the cap.
    size_t cap = protect ? kConfigProtectLineMax : kConfigLineMax;
    bool cut = l.size() > cap;
    if (cut) {
      logf(log, "[cfg] line %d is longer than %d characters - the rest of it is ignored", line_no, int(cap));
      l = l.substr(0, cap);
    }
    if (eq == std::string_view::npos) return;
    std::string_view key = l.substr(0, eq);
    std::string_view value = value_part(l.substr(eq + 1));
    if (iequals(key, "bank")) {
      copy_text(cfg.bank, sizeof cfg.bank, value);
    } else if (iequals(key, "base")) {
      cfg.base = parse_decimal(value);
    } else if (iequals(key, "watch")) {
      int32_t w = parse_decimal(value);
      cfg.watch = w < 1 ? 1 : (w > 64 ? 64 : w);
    } else if (iequals(key, "notify")) {
      cfg.notify = parse_decimal(value) != 0;
    } else if (iequals(key, "card")) {
      copy_text(cfg.card, sizeof cfg.card, value);
    } else if (iequals(key, "resync")) {
      cfg.resync_lv1 = !iequals(trim_blanks(value), "desk");
    } else if (protect) {
      cfg.protect_count = 0;
      // An entry the cut went through is not the entry that was written (AES50A:44 would read
      // as AES50A:4): unless the character after the cut ends an entry, the last one is dropped.
      std::string_view partial;
      if (cut && value.size() == l.size() - eq - 1 && !std::strchr("\r;, \t", line.text[cap])) {
        size_t last = value.find_last_of(kProtectSeparators);
        size_t from = last == std::string_view::npos ? 0 : last + 1;
        partial = value.substr(from);
        value = value.substr(0, from);
      }
      size_t pos = 0;
      while (pos <= value.size()) {
        size_t end = value.find_first_of(kProtectSeparators, pos);
        if (end == std::string_view::npos) end = value.size();
        if (end > pos) protect_entry_parse(value.substr(pos, end - pos), cfg, log);
        pos = end + 1;
      }
      if (!partial.empty())
        logf(log, "[48V] protect entry %s... is cut off at the end of line %d - ignored", shown(partial).c_str(),
             line_no);
    } else if (iequals(key, "diag")) {
      cfg.diag = parse_decimal(value) != 0;
    } else if (iequals(key, "ip")) {
      copy_trimmed(cfg.ip, sizeof cfg.ip, value);
    } else if (iequals(key, "hint")) {
      copy_trimmed(cfg.hint, sizeof cfg.hint, value);
    } else if (iequals(key, "console")) {
      copy_trimmed(cfg.console, sizeof cfg.console, value);
    } else if (iequals(key, "session_recall")) {
      cfg.session_recall = !istarts_with(value, "off");
    }
  });
}

std::string protect_list_text(const ProtectedInput* entries, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    char item[32];
    std::snprintf(item, sizeof item, "%s%s %d", i ? ", " : "", entries[i].bank, int(entries[i].input));
    s += item;
  }
  return s;
}

std::string config_format(const ConsoleConfig& cfg) {
  std::string s;
  char line[160];
  auto put = [&](const char* fmt, auto... args) {
    std::snprintf(line, sizeof line, fmt, args...);
    s += line;
    s += '\n';
  };
  s += "; written by Kestrune - edit while LV1 is closed\n";
  put("bank=%s", cfg.bank);
  put("base=%d", int(cfg.base));
  put("watch=%d", int(cfg.watch));
  put("notify=%d", cfg.notify ? 1 : 0);
  put("card=%s", cfg.card);
  put("resync=%s", cfg.resync_lv1 ? "lv1" : "desk");
  if (cfg.protect_count > 0) {
    s += "protect=";
    for (int i = 0; i < cfg.protect_count; ++i) {
      std::snprintf(line, sizeof line, "%s%s:%d", i ? "," : "", cfg.protect[i].bank, int(cfg.protect[i].input));
      s += line;
    }
    s += '\n';
  }
  if (cfg.diag) s += "diag=1\n";
  if (cfg.ip[0]) put("ip=%s", cfg.ip);
  if (cfg.hint[0]) put("hint=%s", cfg.hint);
  if (cfg.console[0]) put("console=%s", cfg.console);
  put("session_recall=%s", cfg.session_recall ? "on" : "off");
  return s;
}

KeyEdit config_edit_key(std::string& text, std::string_view key, std::string_view value) {
  if (key.empty() || key.size() + 1 + value.size() > kConfigNewLineMax) return KeyEdit::bad_key;
  // One line, and the key it says: no line break or NUL in either, no "=" in the key.
  if (key.find_first_of("=\r\n", 0) != std::string_view::npos || key.find('\0') != std::string_view::npos ||
      value.find_first_of("\r\n", 0) != std::string_view::npos || value.find('\0') != std::string_view::npos)
    return KeyEdit::bad_key;
  std::string new_line;
  new_line.append(key).append("=").append(value);
  std::string out;
  bool found = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    bool has_lf = end != std::string::npos;
    if (!has_lf) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    bool key_line = line.size() > key.size() && istarts_with(line, key) && line[key.size()] == '=';
    if (key_line) {
      if (!found) {
        out += new_line;
        out += '\n';
        found = true;
      }
    } else {
      out.append(line);
      if (has_lf) out += '\n';
    }
    if (out.size() >= kConfigEditCap) return KeyEdit::too_large;
    pos = end + 1;
  }
  if (!found) {
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += new_line;
    out += '\n';
  }
  if (out.size() >= kConfigEditCap) return KeyEdit::too_large;
  // Decided on the whole file: a later key line (the one readers take) may still differ.
  if (out == text) return KeyEdit::unchanged;
  text.swap(out);
  return KeyEdit::edited;
}

// ---- The module's settings ----

namespace {

// Serialises every read-modify-write of the settings file and guards the string settings.
std::mutex g_cfg_lock;
std::string g_path;  // empty: no file kept
char g_ip[64], g_hint[64], g_console[40];
uint64_t g_live_mtime = 0;
bool g_live_seen = false;
uint32_t g_live_last_look = 0;
bool g_live_looked = false;

void log_cfg_line(const char* line) { log_info("%s", line); }

// The tray may have the file open for a moment while the module replaces it; a few short tries
// keep a protect-list or watch change from being lost to that.
bool write_with_retry(const std::string& path, const std::string& data) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (write_file_replace(path, data)) return true;
    bridge_clock().sleep(20);
  }
  return false;
}

ConsoleConfig snapshot_locked() {
  ConsoleConfig c;
  config_defaults(c);
  Settings& s = settings();
  s.bank.get(c.bank);
  c.base = s.base.load();
  c.watch = s.watch.load();
  c.notify = s.notify.load();
  s.card.get(c.card);
  c.resync_lv1 = s.resync_lv1.load();
  c.diag = s.diag.load();
  copy_text(c.ip, sizeof c.ip, g_ip);
  copy_text(c.hint, sizeof c.hint, g_hint);
  copy_text(c.console, sizeof c.console, g_console);
  c.session_recall = s.session_recall.load();
  c.protect_count = protect_snapshot(c.protect, kProtectMax);
  return c;
}

void apply_locked(const ConsoleConfig& c) {
  Settings& s = settings();
  s.bank.set(c.bank);
  s.base.store(c.base);
  s.watch.store(c.watch);
  s.notify.store(c.notify);
  s.card.set(c.card);
  s.resync_lv1.store(c.resync_lv1);
  s.diag.store(c.diag);
  s.session_recall.store(c.session_recall);
  copy_text(g_ip, sizeof g_ip, c.ip);
  copy_text(g_hint, sizeof g_hint, c.hint);
  copy_text(g_console, sizeof g_console, c.console);
  protect_replace(c.protect, c.protect_count);
}

bool write_locked(const ConsoleConfig& c) {
  if (g_path.empty()) return false;
  // The keys the module never changes itself come from the file as it stands now: the tray may
  // have written them since the module last looked, and a rewrite must not undo that.
  ConsoleConfig out = c;
  std::string current;
  if (read_file(g_path, kConfigReadCap, current) == ReadStatus::ok) {
    ConsoleConfig disk;
    config_defaults(disk);
    config_parse(current, disk, nullptr);
    copy_text(out.ip, sizeof out.ip, disk.ip);
    copy_text(out.hint, sizeof out.hint, disk.hint);
    copy_text(out.console, sizeof out.console, disk.console);
    out.diag = disk.diag;
    out.notify = disk.notify;
    out.session_recall = disk.session_recall;
  }
  if (!write_with_retry(g_path, config_format(out))) {
    log_info("[cfg] could not write %s", g_path.c_str());
    return false;
  }
  log_info("[cfg] saved %s", g_path.c_str());
  return true;
}

}  // namespace

void config_reset() {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  g_path.clear();
  ConsoleConfig c;
  config_defaults(c);
  apply_locked(c);
  g_live_mtime = 0;
  g_live_seen = false;
  g_live_looked = false;
  g_live_last_look = 0;
}

void config_load(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  g_path = path.substr(0, 4 * 260);  // the host gives at most 260 wide characters
  ConsoleConfig c;
  config_defaults(c);
  std::string text;
  if (g_path.empty() || read_file(g_path, kConfigReadCap, text) != ReadStatus::ok) {
    log_info("[cfg] no %s - using defaults", g_path.c_str());
  } else {
    log_info("[cfg] using %s", g_path.c_str());
    config_parse(text, c, log_cfg_line);
    if (c.protect_count > 0)
      log_info("[48V] protected inputs (48V will never be switched on): %s",
               protect_list_text(c.protect, c.protect_count).c_str());
  }
  apply_locked(c);
  g_live_seen = false;
  g_live_looked = false;
}

bool config_save() {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  return write_locked(snapshot_locked());
}

bool config_set_key(const char* key, const char* value) {
  if (!key || !*key || !value) return false;
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  if (g_path.empty()) return false;
  std::string text;
  switch (read_file(g_path, kConfigEditCap, text)) {
    case ReadStatus::ok:
      break;
    case ReadStatus::missing:  // created with the one line
      text.clear();
      break;
    case ReadStatus::too_large:
      log_info("[cfg] %s is too large to edit - %s not saved", g_path.c_str(), key);
      return false;
    case ReadStatus::error:
      log_info("[cfg] could not write %s", g_path.c_str());
      return false;
  }
  switch (config_edit_key(text, key, value)) {
    case KeyEdit::unchanged:
      return true;
    case KeyEdit::too_large:
      log_info("[cfg] %s is too large to edit - %s not saved", g_path.c_str(), key);
      return false;
    case KeyEdit::bad_key:
      if (std::strpbrk(key, "=\r\n") || std::strpbrk(value, "\r\n"))
        log_info("[cfg] %s=%s would not be one line of the settings file - not saved", shown(key).c_str(),
                 shown(value).c_str());
      else
        log_info("[cfg] %s=%s is too long for the settings file - not saved", key, value);
      return false;
    case KeyEdit::edited:
      break;
  }
  if (!write_with_retry(g_path, text)) {
    log_info("[cfg] could not write %s", g_path.c_str());
    return false;
  }
  if (iequals(key, "hint")) copy_text(g_hint, sizeof g_hint, value);
  log_info("[cfg] %s=%s saved", key, value);
  return true;
}

void config_reload_live() {
  uint32_t now = clock_now();
  std::string text;
  {
    std::lock_guard<std::mutex> lock(g_cfg_lock);
    if (g_path.empty()) return;
    if (g_live_looked && !ticks_elapsed_at_least(now, g_live_last_look, 3000)) return;
    g_live_looked = true;
    g_live_last_look = now;
    uint64_t mtime = last_write_time(g_path);
    if (mtime == 0) return;
    bool first = !g_live_seen;
    bool same = g_live_seen && mtime == g_live_mtime;
    g_live_seen = true;
    g_live_mtime = mtime;
    if (first || same) return;
    if (read_file(g_path, kConfigReadCap, text) != ReadStatus::ok) return;
  }
  // The same reading as the load, on top of the values in force (a key the file no longer
  // holds keeps its value).
  Settings& s = settings();
  ConsoleConfig c;
  config_defaults(c);
  c.diag = s.diag.load();
  c.session_recall = s.session_recall.load();
  config_parse(text, c, nullptr);
  bool diag = c.diag;
  bool recall = c.session_recall;
  if (diag != s.diag.exchange(diag))
    log_info("[cfg] detailed logging %s (changed in kestrune settings)", diag ? "ON" : "off");
  s.session_recall.store(recall);
}

AddressReload config_reload_address() {
  AddressReload r;
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  std::string path = g_path.empty() ? host_config_path() : g_path;
  std::string text;
  if (path.empty() || read_file(path, kConfigReadCap, text) != ReadStatus::ok) return r;
  ConsoleConfig c;
  config_defaults(c);
  copy_text(c.ip, sizeof c.ip, g_ip);
  copy_text(c.console, sizeof c.console, g_console);
  config_parse(text, c, nullptr);
  const char* ip = c.ip;
  const char* console = c.console;
  if (std::strcmp(ip, g_ip) != 0) {
    log_info("[cfg] ip= %s", ip[0] ? ip : "(cleared - discovery finds the console)");
    copy_text(g_ip, sizeof g_ip, ip);
    r.ip_changed = true;
  }
  if (std::strcmp(console, g_console) != 0) {
    log_info("[cfg] console= %s", console[0] ? console : "(cleared)");
    copy_text(g_console, sizeof g_console, console);
    r.console_changed = true;
  }
  return r;
}

void config_ip(char out[64]) {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  copy_text(out, 64, g_ip);
}
void config_hint(char out[64]) {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  copy_text(out, 64, g_hint);
}
void config_console(char out[40]) {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  copy_text(out, 40, g_console);
}
std::string config_path() {
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  return g_path;
}

// ---- Protect list ----

bool protect_list_contains(const char* bank, uint32_t input) { return protect_find(bank, input) >= 0; }

bool protect_list_get(int index, char* bank_out, int len, uint32_t* input) {
  ProtectedInput e;
  if (!protect_at(index, e)) return false;
  if (bank_out && len > 0) copy_text(bank_out, size_t(len), e.bank);
  if (input) *input = e.input;
  return true;
}

int protect_list_count() { return protect_count(); }

bool protect_list_set(const char* bank, uint32_t input, bool add) {
  if (!bank) return false;
  std::lock_guard<std::mutex> lock(g_cfg_lock);
  if (add) {
    if (protect_find(bank, input) >= 0) return true;
    // Only what the settings file gives back unchanged after a restart.
    if (!protect_bank_ok(std::string_view(bank, bounded_len(bank, 8))) || input < 1 || input > 65535) {
      log_info("[48V] %s %u is not a desk input - NOT protected", shown(std::string_view(bank, bounded_len(bank, 8))).c_str(),
               unsigned(input));
      return false;
    }
    if (!protect_append(bank, input)) {
      log_info("[48V] protect list is full (%d) - %s %d NOT protected", kProtectMax, bank, int(input));
      return false;
    }
    log_info("[48V] %s %d is now protected - 48V will never be switched on here", bank, int(input));
  } else {
    protect_remove(bank, input);
    log_info("[48V] %s %d is no longer protected - 48V can be switched on here again", bank, int(input));
  }
  write_locked(snapshot_locked());
  return true;
}

}  // namespace ks
