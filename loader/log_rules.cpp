#include "loader/log_rules.h"

#include <cstdio>
#include <cstring>

namespace ks {

std::string log_file_name(int channel, bool rotated) {
  static const char* const suffix[kLogChannels] = {"-loader", "", "-x32"};
  if (channel < 0 || channel >= kLogChannels) return {};
  std::string name = "kestrune";
  name += suffix[channel];
  name += rotated ? ".1.log" : ".log";
  return name;
}

size_t format_log_line(char* out, size_t cap, int hour, int minute, int second, int millisecond,
                       const char* text) {
  if (cap == 0) return 0;
  if (cap < 2) {
    out[0] = 0;
    return 0;
  }
  int n = std::snprintf(out, cap - 1, "%02d:%02d:%02d.%03d  %s", hour, minute, second, millisecond,
                        text ? text : "");
  size_t len = n < 0 ? 0 : static_cast<size_t>(n);
  if (len > cap - 2) len = cap - 2;
  out[len++] = '\n';
  out[len] = 0;
  return len;
}

int host_log_channel(const char* ctx) {
  return (ctx && std::strcmp(ctx, "x32") == 0) ? kLogX32 : kLogWing;
}

std::string chunk_text_line(const char* label, const char* text) {
  constexpr size_t kShown = 700;
  const size_t len = text ? std::strlen(text) : 0;
  std::string shown;
  if (!text) {
    shown = "(null)";
  } else {
    const size_t n = len > kShown ? kShown : len;
    shown.reserve(n + 3);
    for (size_t i = 0; i < n; ++i) {
      char c = text[i];
      shown += c == '\n' ? '|' : c == '\r' ? ' ' : c;
    }
    if (len > kShown) shown += "...";
  }
  std::string line = "[chunk] ";
  line += label ? label : "";
  line += ": " + std::to_string(len) + " bytes: " + shown;
  return line;
}

}  // namespace ks
