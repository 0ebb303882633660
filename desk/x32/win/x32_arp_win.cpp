#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdio>

#include "desk/x32/x32_driver.h"

namespace ks {

bool x32_arp_mac(uint32_t ip, char* out, size_t cap) {
  ULONG mac[2] = {};
  ULONG len = 6;
  if (SendARP(htonl(ip), 0, mac, &len) != NO_ERROR || len < 6) return false;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(mac);
  std::snprintf(out, cap, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
  return true;
}

}  // namespace ks
