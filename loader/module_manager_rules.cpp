#include "loader/module_manager_rules.h"

#include <cstdio>

#include "shared/records.h"

namespace ks {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool starts_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equal_nocase(s.substr(0, prefix.size()), prefix);
}

// 1 to 9 digits, so the value always fits (a longer run is not a version a release would use).
bool read_number(std::string_view s, size_t& pos, int32_t& out) {
  size_t start = pos;
  int32_t v = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 9) {
    v = v * 10 + (s[pos] - '0');
    ++pos;
  }
  if (pos == start || (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')) return false;
  out = v;
  return true;
}

}  // namespace

void parse_state_cfg(std::string_view text, TypeSwitches out[2]) {
  out[0] = TypeSwitches{};
  out[1] = TypeSwitches{};
  size_t pos = 0;
  while (pos < text.size()) {
    // One fgets-sized piece: up to and including '\n', at most 127 bytes.
    size_t end = pos;
    while (end < text.size() && end - pos < 127) {
      if (text[end++] == '\n') break;
    }
    std::string_view line = text.substr(pos, end - pos);
    pos = end;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    for (uint32_t t = 0; t < kConsoleTypes; ++t) {
      std::string guest = std::string(kTypeNames[t]) + ".guest";
      if (equal_nocase(key, kTypeNames[t]))
        out[t].enabled = !starts_nocase(value, "off");
      else if (equal_nocase(key, guest))
        out[t].hands_off = !value.empty() && value[0] == '1';
    }
  }
}

std::string hands_off_log_line(const char* type_name, bool hands_off) {
  char buf[256];
  if (hands_off)
    std::snprintf(
        buf, sizeof buf,
        "[loader] %s: the card is shared to this LV1 from another one - Kestrune stays hands-off "
        "(no module, no writes, no recall)",
        type_name);
  else
    std::snprintf(buf, sizeof buf,
                  "[loader] %s: this LV1 owns the card again - Kestrune may drive the console",
                  type_name);
  return buf;
}

bool version_newer(const ModuleVersion& a, const ModuleVersion& b) {
  if (a.major != b.major) return a.major > b.major;
  if (a.minor != b.minor) return a.minor > b.minor;
  return a.patch > b.patch;
}

std::string version_text(const ModuleVersion& v) {
  char buf[kVersionTextMax + 1];
  std::snprintf(buf, sizeof buf, "%d.%d.%d", int(v.major), int(v.minor), int(v.patch));
  return buf;
}

bool parse_module_file_name(std::string_view name, std::string_view type_name, ModuleVersion& out) {
  const std::string prefix = std::string(type_name) + "-";
  if (!starts_nocase(name, prefix)) return false;
  // The version follows the name's last '-' (the prefix guarantees there is one).
  size_t pos = name.rfind('-') + 1;
  ModuleVersion v;
  if (!read_number(name, pos, v.major) || pos >= name.size() || name[pos++] != '.') return false;
  if (!read_number(name, pos, v.minor) || pos >= name.size() || name[pos++] != '.') return false;
  if (!read_number(name, pos, v.patch)) return false;
  if (!equal_nocase(name.substr(pos), ".dll")) return false;
  // The version is shown whole in 23 characters (the log, the loader block): a name whose
  // version would be cut there is no module file of the type.
  char text[32];
  if (std::snprintf(text, sizeof text, "%d.%d.%d", int(v.major), int(v.minor), int(v.patch)) >
      int(kVersionTextMax))
    return false;
  out = v;
  return true;
}

bool same_path(std::string_view a, std::string_view b) { return equal_nocase(a, b); }

void RejectedFiles::add(const std::string& path) {
  if (!contains(path)) paths_.push_back(path);
}

bool RejectedFiles::contains(std::string_view path) const {
  for (const std::string& p : paths_)
    if (same_path(p, path)) return true;
  return false;
}

bool find_newest_module(const std::vector<std::string>& names, const std::string& folder,
                        std::string_view type_name, const RejectedFiles& rejected,
                        const std::function<bool(const std::string& path)>& verify,
                        const std::function<void(const std::string& line)>& log, FoundModule& out) {
  bool have = false;
  ModuleVersion best;
  for (const std::string& name : names) {
    ModuleVersion v;
    if (!parse_module_file_name(name, type_name, v)) continue;
    if (have && !version_newer(v, best)) continue;
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += name;
    if (rejected.contains(path)) continue;
    if (!verify(path)) {
      log("[loader] " + name + " is not signed by Kestrune - skipped");
      continue;
    }
    have = true;
    best = v;
    out.path = path;
    out.version = version_text(v);
  }
  return have;
}

ModuleAction decide_module_action(bool want, bool module_runs, std::string_view found_path,
                                  std::string_view running_path) {
  if (want) {
    if (!module_runs) return ModuleAction::load;
    return same_path(found_path, running_path) ? ModuleAction::keep : ModuleAction::replace;
  }
  return module_runs ? ModuleAction::switch_off : ModuleAction::keep;
}

std::string load_failure_log_line(const std::string& path, uint32_t error, const void* table,
                                  bool module_runs) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, "[loader] %s would not load (error %lu%s, entry %p) - keeping %s",
                path.c_str(), static_cast<unsigned long>(error),
                error == 4551 ? " = Smart App Control blocked it" : "", table,
                module_runs ? "the running module" : "none");
  return buf;
}

std::string failed_file_name(std::string_view path) {
  size_t cut = path.find_last_of("\\/");
  std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  if (name.size() > 63) {
    // Do not leave half a UTF-8 sequence at the end.
    size_t n = 63;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    name = name.substr(0, n);
  }
  return std::string(name);
}

IdentifyStep identify_step(IdentifyState& s, uint32_t counter, uint32_t on_word, uint64_t now_ms) {
  IdentifyStep step;
  if (counter != s.seen_counter) {
    s.seen_counter = counter;
    step.call = true;
    step.on = on_word != 0;
    return step;
  }
  if (s.deadline_ms != 0 && now_ms >= s.deadline_ms) {
    step.call = true;
    step.on = false;
    step.clear_on_word = true;
  }
  return step;
}

void identify_done(IdentifyState& s, bool on, bool call_ok, uint64_t now_ms) {
  s.deadline_ms = on && call_ok ? now_ms + kIdentifyLedMs : 0;
}

uint32_t identify_wait_ms(const IdentifyState* states, int count, uint64_t now_ms,
                          uint32_t forever) {
  uint64_t wait = forever;
  for (int i = 0; i < count; ++i) {
    if (states[i].deadline_ms == 0) continue;
    uint64_t left = states[i].deadline_ms > now_ms ? states[i].deadline_ms - now_ms : 0;
    if (left < wait) wait = left;
  }
  return uint32_t(wait);
}

}  // namespace ks
