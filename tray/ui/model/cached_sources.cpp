#include "tray/ui/model/cached_sources.h"

namespace ks::tray {

namespace {

template <class T, class F>
T once(std::optional<T>& slot, F&& read) {
  if (!slot) slot = read();
  return *slot;
}

bool valid_kind(int kind) { return kind == kWing || kind == kX32; }

}  // namespace

bool PollCachedSources::lv1_running() {
  return once(cache_.running, [&] { return live_.lv1_running(); });
}

int32_t PollCachedSources::lv1_uptime_ms() {
  uint64_t now = live_.steady_ms();
  if (!cache_.uptime) {
    cache_.uptime = live_.lv1_uptime_ms();
    cache_.uptime_at = now;
  }
  int32_t up = *cache_.uptime;
  if (up < 0) return -1;
  // The run time goes on between ticks; the tick only saves the process walk.
  uint64_t since = now >= cache_.uptime_at ? now - cache_.uptime_at : 0;
  uint64_t total = uint64_t(up) + since;
  return total > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(total);
}

std::string PollCachedSources::lv1_version() {
  return once(cache_.version, [&] { return live_.lv1_version(); });
}
bool PollCachedSources::lv1_exe_present() {
  return once(cache_.exe, [&] { return live_.lv1_exe_present(); });
}
bool PollCachedSources::load_blocked() {
  return once(cache_.blocked, [&] { return live_.load_blocked(); });
}
bool PollCachedSources::update_pending() {
  return once(cache_.update, [&] { return live_.update_pending(); });
}
bool PollCachedSources::legacy_install() {
  return once(cache_.legacy_all, [&] { return live_.legacy_install(); });
}

bool PollCachedSources::card_module_present(int kind) {
  if (!valid_kind(kind)) return false;
  return once(cache_.card_module[kind], [&] { return live_.card_module_present(kind); });
}

bool PollCachedSources::console_module_state(int kind, bool& on) {
  if (!valid_kind(kind)) return on = false;
  Module m = once(cache_.module[kind], [&] {
    Module r;
    r.installed = live_.console_module_state(kind, r.on);
    return r;
  });
  on = m.on;
  return m.installed;
}

bool PollCachedSources::legacy_console(int kind) {
  if (!valid_kind(kind)) return false;
  return once(cache_.legacy[kind], [&] { return live_.legacy_console(kind); });
}

bool PollCachedSources::read_settings(int kind, std::string& text) {
  if (!valid_kind(kind)) return false;
  const Settings& s = once(cache_.settings[kind], [&] {
    Settings r;
    r.readable = live_.read_settings(kind, r.text);
    return r;
  });
  text = s.text;
  return s.readable;
}

bool PollCachedSources::write_setting(int kind, const char* key, std::string_view value) {
  if (valid_kind(kind)) cache_.settings[kind].reset();
  return live_.write_setting(kind, key, value);
}

}  // namespace ks::tray
