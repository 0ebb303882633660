// Brannock's own part: the X32/M32 driver's log, stuck-thread count, discovery lists and stop
// flag wired into the framework it is built with.
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/net_utils.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_log.h"

namespace ks {
namespace {

void to_module_log(int level, const char* text) {
  if (level <= 1)
    log_info("%s", text);
  else
    log_detail("%s", text);
}

// The framework's lists are in network order; the driver's in host order.
int32_t targets(uint32_t* out, int32_t max) {
  int n = discovery_targets(out, max);
  for (int i = 0; i < n; i++) out[i] = ipv4_from_net(out[i]);
  return n;
}

int32_t broadcast_sockets(Socket* out, int32_t max) { return open_broadcast_sockets(out, nullptr, max); }

bool wire_into_framework() {
  x32_set_log_sink(to_module_log);
  x32_set_stuck_sink(add_stuck_thread);
  X32DiscoveryNet net;
  net.targets = targets;
  net.broadcast_sockets = broadcast_sockets;
  net.stopping = stop_requested;
  x32_set_discovery_net(net);
  return true;
}

const bool g_wired = wire_into_framework();

}  // namespace
}  // namespace ks
