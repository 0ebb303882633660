#include "crypto/tests/support/hex.h"

#include <cstdio>
#include <cstdlib>

namespace ks::test {
namespace {

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  if (hex.size() % 2 != 0) {
    std::fprintf(stderr, "odd-length hex literal\n");
    std::abort();
  }
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) {
      std::fprintf(stderr, "bad hex literal near offset %zu\n", i);
      std::abort();
    }
    out.push_back(uint8_t(hi * 16 + lo));
  }
  return out;
}

std::string to_hex(const uint8_t* data, size_t len) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < len; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

}  // namespace ks::test
