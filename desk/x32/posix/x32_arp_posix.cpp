#include "desk/x32/x32_driver.h"

namespace ks {

// Natively there is no ARP question to ask without raw sockets; answers carry the name instead.
bool x32_arp_mac(uint32_t, char*, size_t) { return false; }

}  // namespace ks
