#include "os/adapters.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>
#include <vector>

#include "os/win/wide.h"

namespace ks {

uint32_t prefix_to_mask(uint8_t prefix_length) {
  ULONG mask = 0;  // network byte order
  if (prefix_length > 32 || ConvertLengthToIpv4Mask(prefix_length, &mask) != NO_ERROR) return 0;
  return ntohl(mask);
}

std::vector<Ipv4Adapter> system_ipv4_adapters() {
  std::vector<Ipv4Adapter> out;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG len = 16 * 1024;
  std::vector<unsigned char> buf;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the sizing call and the real one; try a few times.
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buf.resize(len);
    rc = GetAdaptersAddresses(AF_INET, flags, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &len);
  }
  if (rc != NO_ERROR) return out;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      Ipv4Adapter ad;
      ad.address = ntohl(reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
      ad.prefix_length = u->OnLinkPrefixLength > 32 ? 32 : u->OnLinkPrefixLength;
      ad.up = a->OperStatus == IfOperStatusUp;
      ad.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      if (a->FriendlyName) ad.name = win::narrow(a->FriendlyName);
      out.push_back(std::move(ad));
    }
  }
  return out;
}

bool arp_mac(uint32_t addr, uint8_t mac[6]) {
  ULONG buf[2] = {};
  ULONG len = 6;
  if (SendARP(htonl(addr), 0, buf, &len) != NO_ERROR || len < 6) return false;
  std::memcpy(mac, buf, 6);
  return true;
}

}  // namespace ks
