#include "loader/device_info.h"

#include <cstdio>

namespace ks {

MacKind classify_mac(const uint8_t mac[6]) {
  if (!mac) return MacKind::kNone;
  bool head_zero = mac[0] == 0 && mac[1] == 0 && mac[2] == 0;
  bool tail_zero = mac[3] == 0 && mac[4] == 0 && mac[5] == 0;
  if (head_zero && tail_zero) return MacKind::kNone;
  return head_zero ? MacKind::kOffline : MacKind::kReal;
}

std::string format_mac(const uint8_t mac[6]) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return buf;
}

std::string format_status(const uint8_t status[kBoxStatusBytes]) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < kBoxStatusBytes; ++i) {
    std::snprintf(buf, sizeof buf, "%02x ", status[i]);
    out += buf;
  }
  return out;
}

DeviceInfo parse_device_info(const uint8_t info[kDeviceUpInfoBytes]) {
  DeviceInfo d{};
  for (int i = 0; i < 6; ++i) d.firmware[i] = info[i];
  size_t n = 0;
  for (; n < kDeviceUpOwnerMax; ++n) {
    uint8_t c = info[kDeviceUpOwnerOffset + n];
    if (c == 0) break;
    d.owner[n] = (c >= 32 && c <= 126) ? static_cast<char>(c) : '?';
  }
  d.owner[n] = 0;
  const uint8_t* w = info + kDeviceUpOwnershipOffset;
  d.ownership = static_cast<uint32_t>(w[0]) | static_cast<uint32_t>(w[1]) << 8 |
                static_cast<uint32_t>(w[2]) << 16 | static_cast<uint32_t>(w[3]) << 24;
  return d;
}

}  // namespace ks
