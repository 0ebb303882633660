#include "tray/services/sha256.h"

namespace ks::tray {

std::string hex_lower(const uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  return out;
}

std::string sha256_hex(const uint8_t* data, size_t size) {
  uint8_t digest[32];
  if (!platform_sha256(data, size, digest)) return {};
  return hex_lower(digest, sizeof digest);
}

std::string sha256_hex(std::string_view bytes) {
  return sha256_hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace ks::tray
