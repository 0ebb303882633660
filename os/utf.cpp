#include "os/utf.h"

namespace ks {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void put_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}
}  // namespace

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c;
    size_t n;
    if (b < 0x80) {
      c = b;
      n = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 3;
    } else {
      out += char16_t(kReplacement);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= n && i + j < s.size(); ++j) {
      unsigned char cb = static_cast<unsigned char>(s[i + j]);
      if ((cb & 0xC0) != 0x80) break;
      c = (c << 6) | (cb & 0x3F);
    }
    if (j <= n) {  // truncated or broken sequence: replace what was consumed
      out += char16_t(kReplacement);
      i += j;
      continue;
    }
    i += n + 1;
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    put_utf8(out, c);
  }
  return out;
}

}  // namespace ks
