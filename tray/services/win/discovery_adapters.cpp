// The adapter list of a search: every adapter with its kind, state and addresses.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

#include "tray/services/discovery.h"
#include "tray/services/text_utils.h"

namespace ks::tray {

std::vector<NetAdapter> system_net_adapters() {
  std::vector<NetAdapter> out;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG len = 16 * 1024;
  std::vector<unsigned char> buf;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the sizing call and the real one.
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buf.resize(len);
    rc = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &len);
  }
  if (rc != NO_ERROR) return out;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
    NetAdapter ad;
    if (a->FriendlyName) {
      std::u16string name;
      for (const wchar_t* p = a->FriendlyName; *p && name.size() < 256; ++p)
        name += static_cast<char16_t>(*p);
      ad.name = to_utf8(name);
    }
    ad.up = a->OperStatus == IfOperStatusUp;
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
      ad.kind = NetAdapter::Kind::loopback;
    else if (a->IfType == IF_TYPE_PPP || a->IfType == IF_TYPE_TUNNEL)
      ad.kind = NetAdapter::Kind::point_to_point;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      if (!u->Address.lpSockaddr) continue;
      NetAdapter::Address addr;
      if (u->Address.lpSockaddr->sa_family == AF_INET) {
        addr.addr = ntohl(reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
        addr.prefix = u->OnLinkPrefixLength > 32 ? 32 : u->OnLinkPrefixLength;
      } else {
        addr.ipv4 = false;
      }
      ad.addresses.push_back(addr);
    }
    out.push_back(std::move(ad));
  }
  return out;
}

}  // namespace ks::tray
