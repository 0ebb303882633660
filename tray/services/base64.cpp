#include "tray/services/base64.h"

namespace ks::tray {

namespace {

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool base64_decode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t acc = 0;
  int bits = 0;
  int pads = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++pads;
      continue;
    }
    int v = sextet(c);
    if (v < 0 || pads > 0) return false;
    acc = ((acc << 6) | static_cast<uint32_t>(v)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return pads <= 2 && bits < 6;
}

bool base64_decode_exact(std::string_view text, uint8_t* out, size_t size) {
  uint32_t acc = 0;
  int bits = 0;
  size_t n = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = sextet(c);
    if (v < 0) return false;
    acc = ((acc << 6) | static_cast<uint32_t>(v)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (n == size) return false;
      out[n++] = static_cast<uint8_t>(acc >> bits);
    }
  }
  return n == size;
}

}  // namespace ks::tray
