#include "bridge/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ks {

size_t copy_text(char* dst, size_t cap, std::string_view src) {
  if (cap == 0) return 0;
  size_t n = 0;
  while (n < src.size() && n + 1 < cap && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
  return n;
}

size_t copy_text(char* dst, size_t cap, const char* src) {
  // Reads no further than it can copy: a driver's field may lack its NUL.
  return copy_text(dst, cap, std::string_view(src, bounded_len(src, cap ? cap - 1 : 0)));
}

size_t bounded_len(const char* s, size_t cap) {
  if (!s) return 0;
  size_t n = 0;
  while (n < cap && s[n] != '\0') ++n;
  return n;
}

char* terminate(char* buf, size_t cap) {
  if (buf && cap > 0) buf[cap - 1] = '\0';
  return buf;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

bool icontains(std::string_view hay, std::string_view needle) {
  for (size_t i = 0; i < hay.size() && hay.size() - i >= needle.size(); ++i)
    if (iequals(hay.substr(i, needle.size()), needle)) return true;
  return false;
}

bool iequals(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return iequals(std::string_view(a), std::string_view(b));
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int32_t parse_decimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > int64_t(INT32_MAX) + 1) v = int64_t(INT32_MAX) + 1;  // saturate, keep reading digits
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return static_cast<int32_t>(v);
}

bool is_dotted_ipv4(std::string_view s) {
  int groups = 0;
  size_t i = 0;
  while (true) {
    int digits = 0, value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4) {
      value = value * 10 + (s[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++groups;
    if (groups == 4) return i == s.size();
    if (i >= s.size() || s[i] != '.') return false;
    ++i;
  }
}

bool append_text(char* buf, size_t cap, const char* fmt, ...) {
  if (!buf || cap == 0) return false;
  size_t used = bounded_len(buf, cap);
  if (used >= cap) {
    buf[cap - 1] = '\0';
    return false;
  }
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf + used, cap - used, fmt, ap);
  va_end(ap);
  return n >= 0 && size_t(n) < cap - used;
}

}  // namespace ks
