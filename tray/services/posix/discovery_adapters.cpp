// The adapter list of a search on the native build (getifaddrs), for tools and tests.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <bit>
#include <cstring>
#include <vector>

#include "tray/services/discovery.h"

namespace ks::tray {

std::vector<NetAdapter> system_net_adapters() {
  std::vector<NetAdapter> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || !i->ifa_name) continue;
    const int family = i->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    NetAdapter* ad = nullptr;
    for (NetAdapter& a : out)
      if (a.name == i->ifa_name) ad = &a;
    if (!ad) {
      out.emplace_back();
      ad = &out.back();
      ad->name = i->ifa_name;
      ad->up = (i->ifa_flags & IFF_UP) && (i->ifa_flags & IFF_RUNNING);
      if (i->ifa_flags & IFF_LOOPBACK)
        ad->kind = NetAdapter::Kind::loopback;
      else if (i->ifa_flags & IFF_POINTOPOINT)
        ad->kind = NetAdapter::Kind::point_to_point;
    }
    NetAdapter::Address addr;
    if (family == AF_INET) {
      addr.addr = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
      uint32_t mask = i->ifa_netmask
                          ? ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr)
                          : 0;
      addr.prefix = static_cast<uint8_t>(std::popcount(mask));
    } else {
      addr.ipv4 = false;
    }
    ad->addresses.push_back(addr);
  }
  freeifaddrs(list);
  return out;
}

}  // namespace ks::tray
