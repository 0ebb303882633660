#include "os/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace ks {

uint32_t prefix_to_mask(uint8_t prefix_length) {
  if (prefix_length > 32) return 0;
  return prefix_length == 0 ? 0 : ~uint32_t(0) << (32 - prefix_length);
}

std::vector<Ipv4Adapter> system_ipv4_adapters() {
  std::vector<Ipv4Adapter> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    Ipv4Adapter ad;
    ad.address = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    uint32_t mask =
        a->ifa_netmask ? ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr) : 0;
    uint8_t prefix = 0;
    while (prefix < 32 && (mask & (0x80000000u >> prefix))) ++prefix;
    ad.prefix_length = prefix;
    ad.up = (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING);
    ad.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    ad.name = a->ifa_name ? a->ifa_name : "";
    out.push_back(std::move(ad));
  }
  freeifaddrs(list);
  return out;
}

bool arp_mac(uint32_t, uint8_t*) { return false; }

}  // namespace ks
