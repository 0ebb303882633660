#include "bridge/config_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bridge/text.h"

namespace ks {

namespace {

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

// Characters that end a protect entry in the file.
constexpr const char* kProtectSeparators = ", \t;";

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

bool protect_bank_ok(std::string_view bank) {
  if (bank.empty() || bank.size() > 7) return false;
  for (char ch : bank) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == ':' || std::strchr(kProtectSeparators, ch)) return false;
  }
  return true;
}

std::string shown(std::string_view v) {
  std::string out;
  for (size_t i = 0; i < v.size() && i < 40; ++i) {
    unsigned char c = static_cast<unsigned char>(v[i]);
    out += (c < 0x20 || c == 0x7F) ? '?' : char(c);
  }
  return out;
}

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
    logf(log, "[48V] protect list is full (%d) - %.*s %d NOT protected", kProtectMax,
         int(bank.size()), bank.data(), input);
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
      logf(log, "[cfg] line %d is longer than %d characters - the rest of it is ignored", line_no,
           int(cap));
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
        logf(log, "[48V] protect entry %s... is cut off at the end of line %d - ignored",
             shown(partial).c_str(), line_no);
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
    std::snprintf(item, sizeof item, "%s%s %d", i ? ", " : "", entries[i].bank,
                  int(entries[i].input));
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
      std::snprintf(line, sizeof line, "%s%s:%d", i ? "," : "", cfg.protect[i].bank,
                    int(cfg.protect[i].input));
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
  if (key.find_first_of("=\r\n", 0) != std::string_view::npos ||
      key.find('\0') != std::string_view::npos ||
      value.find_first_of("\r\n", 0) != std::string_view::npos ||
      value.find('\0') != std::string_view::npos)
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

}  // namespace ks
