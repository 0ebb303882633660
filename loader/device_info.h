// Reading what LV1 tells a box about its device: the MAC it hands over, the info block of
// device_up and the status bytes. Pure rules over bytes already known readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "shared/iobox.h"

namespace ks {

enum class MacKind {
  kNone,     // all six bytes zero (or no MAC): only forwarded
  kOffline,  // 00:00:00:xx:xx:xx with the rest not all zero: an offline device in LV1
  kReal,     // a real device
};

MacKind classify_mac(const uint8_t mac[6]);

// "aa:bb:cc:dd:ee:ff"
std::string format_mac(const uint8_t mac[6]);

// The 16 status bytes as "%02x " each.
std::string format_status(const uint8_t status[kBoxStatusBytes]);

struct DeviceInfo {
  uint8_t firmware[6];  // bytes 0-5: two three-part versions
  char owner[kDeviceUpOwnerMax +
             1];       // from byte 6, at most 63, up to the first 0; unprintable bytes as '?'
  uint32_t ownership;  // u32 at byte 1288
};

DeviceInfo parse_device_info(const uint8_t info[kDeviceUpInfoBytes]);

}  // namespace ks
