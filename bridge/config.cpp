#include "bridge/config.h"

#include <cstring>

#include "bridge/host.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "os/file.h"
#include "os/lock.h"

namespace ks {

namespace {

constexpr size_t kConfigReadCap = 1 << 20;  // a settings file is a few hundred bytes

// Serialises every read-modify-write of the settings file and guards the string settings.
CriticalSection& g_cfg_lock = *new CriticalSection;  // never freed (os/lock.h)
std::string g_path;                                  // empty: no file kept
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
  LockGuard<CriticalSection> lock(g_cfg_lock);
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
  LockGuard<CriticalSection> lock(g_cfg_lock);
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
  LockGuard<CriticalSection> lock(g_cfg_lock);
  return write_locked(snapshot_locked());
}

bool config_set_key(const char* key, const char* value) {
  if (!key || !*key || !value) return false;
  LockGuard<CriticalSection> lock(g_cfg_lock);
  if (g_path.empty()) return false;
  std::string text;
  switch (read_file(g_path, kConfigEditCap, text)) {
    case ReadStatus::ok: break;
    case ReadStatus::missing:  // created with the one line
      text.clear();
      break;
    case ReadStatus::too_large:
      log_info("[cfg] %s is too large to edit - %s not saved", g_path.c_str(), key);
      return false;
    case ReadStatus::error: log_info("[cfg] could not write %s", g_path.c_str()); return false;
  }
  switch (config_edit_key(text, key, value)) {
    case KeyEdit::unchanged: return true;
    case KeyEdit::too_large:
      log_info("[cfg] %s is too large to edit - %s not saved", g_path.c_str(), key);
      return false;
    case KeyEdit::bad_key:
      if (std::strpbrk(key, "=\r\n") || std::strpbrk(value, "\r\n"))
        log_info("[cfg] %s=%s would not be one line of the settings file - not saved",
                 shown(key).c_str(), shown(value).c_str());
      else
        log_info("[cfg] %s=%s is too long for the settings file - not saved", key, value);
      return false;
    case KeyEdit::edited: break;
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
    LockGuard<CriticalSection> lock(g_cfg_lock);
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
  LockGuard<CriticalSection> lock(g_cfg_lock);
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
  LockGuard<CriticalSection> lock(g_cfg_lock);
  copy_text(out, 64, g_ip);
}
void config_hint(char out[64]) {
  LockGuard<CriticalSection> lock(g_cfg_lock);
  copy_text(out, 64, g_hint);
}
void config_console(char out[40]) {
  LockGuard<CriticalSection> lock(g_cfg_lock);
  copy_text(out, 40, g_console);
}
std::string config_path() {
  LockGuard<CriticalSection> lock(g_cfg_lock);
  return g_path;
}

// ---- Protect list ----

bool protect_list_contains(const char* bank, uint32_t input) {
  return protect_find(bank, input) >= 0;
}

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
  LockGuard<CriticalSection> lock(g_cfg_lock);
  if (add) {
    if (protect_find(bank, input) >= 0) return true;
    // Only what the settings file gives back unchanged after a restart.
    if (!protect_bank_ok(std::string_view(bank, bounded_len(bank, 8))) || input < 1 ||
        input > 65535) {
      log_info("[48V] %s %u is not a desk input - NOT protected",
               shown(std::string_view(bank, bounded_len(bank, 8))).c_str(), unsigned(input));
      return false;
    }
    if (!protect_append(bank, input)) {
      log_info("[48V] protect list is full (%d) - %s %d NOT protected", kProtectMax, bank,
               int(input));
      return false;
    }
    log_info("[48V] %s %d is now protected - 48V will never be switched on here", bank, int(input));
  } else {
    protect_remove(bank, input);
    log_info("[48V] %s %d is no longer protected - 48V can be switched on here again", bank,
             int(input));
  }
  write_locked(snapshot_locked());
  return true;
}

}  // namespace ks
