// Brannock's own part: the X32/M32 driver's record, and its log, stuck-thread count and stop
// flag wired into the framework it is built with.
#include "bridge/host.h"
#include "bridge/lifecycle.h"
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

bool wire_into_framework() {
  x32_set_log_sink(to_module_log);
  x32_set_stuck_sink(add_stuck_thread);
  X32DiscoveryNet net;
  net.stopping = stop_requested;
  x32_set_discovery_net(net);
  return true;
}

const bool g_wired = wire_into_framework();

}  // namespace
}  // namespace ks
