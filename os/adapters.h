// The IPv4 addresses of this machine's network adapters (GetAdaptersAddresses), and ARP.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ks {

struct Ipv4Adapter {
  uint32_t address = 0;       // host byte order
  uint8_t prefix_length = 0;  // 0-32
  bool up = false;
  bool loopback = false;
  std::string name;  // friendly name, UTF-8, for the log only
};

// Network mask of a prefix length (ConvertLengthToIpv4Mask on Windows), host order. 0 for > 32.
uint32_t prefix_to_mask(uint8_t prefix_length);

// One entry per unicast IPv4 address (an adapter with two addresses gives two entries).
// Tests replace the source with set_adapter_source(); an empty function restores the system's.
std::vector<Ipv4Adapter> list_ipv4_adapters();
using AdapterSource = std::function<std::vector<Ipv4Adapter>()>;
void set_adapter_source(AdapterSource source);
// The system's list, whatever source is set.
std::vector<Ipv4Adapter> system_ipv4_adapters();

// The MAC of a host on a local network by ARP (SendARP), `addr` in host order. False where none
// can be learnt: loopback, a host that does not answer, and natively (no ARP without raw sockets).
bool arp_mac(uint32_t addr, uint8_t mac[6]);

}  // namespace ks
