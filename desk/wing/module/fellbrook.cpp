// Fellbrook's own part: the WING driver's log, stuck-thread count and discovery stop check
// wired into the framework it is built with.
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "desk/wing/wing_discovery.h"
#include "desk/wing/wing_services.h"

namespace ks {
namespace {

void to_module_log(int level, const char* text) {
  if (level <= 1)
    log_info("%s", text);
  else
    log_detail("%s", text);
}

const DriverServices kServices = {to_module_log, add_stuck_thread};

bool wire_into_framework() {
  set_driver_services(&kServices);
  set_wing_discovery_stop_check(stop_requested);
  return true;
}

const bool g_wired = wire_into_framework();

}  // namespace
}  // namespace ks
