#include "tray/services/tests/support/fixtures.h"

#include "os/file.h"

namespace ks::tray::test {

std::string fixture_path(const std::string& name) {
  std::string p = std::string(KS_TRAY_FIXTURES) + "/" + name;
#ifdef _WIN32
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
#endif
  return p;
}

std::string read_fixture(const std::string& name) {
  std::string out;
  if (read_file(fixture_path(name), 64u << 20, out) != ReadStatus::ok) out.clear();
  return out;
}

std::vector<uint8_t> crosscheck_pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((uint64_t(i) * 2654435761u) >> 13);
  return v;
}

std::string base64_encode(const uint8_t* data, size_t size) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += a[(v >> 6) & 63];
    out += a[v & 63];
  }
  if (size - i == 1) {
    uint32_t v = uint32_t(data[i]) << 16;
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += "==";
  } else if (size - i == 2) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8;
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += a[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace ks::tray::test
