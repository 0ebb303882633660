#include <cstdio>

#include "os/socket.h"

namespace ks {

std::optional<uint32_t> parse_ipv4(std::string_view text) {
  uint32_t addr = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    uint32_t v = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      v = v * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || v > 255) return std::nullopt;
    addr = (addr << 8) | v;
  }
  if (i != text.size()) return std::nullopt;
  return addr;
}

std::string format_ipv4(uint32_t addr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", addr >> 24, (addr >> 16) & 0xFF, (addr >> 8) & 0xFF,
                addr & 0xFF);
  return buf;
}

}  // namespace ks
