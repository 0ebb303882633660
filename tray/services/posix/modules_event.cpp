// The native build's named events (os/event.h) stand in for the Windows kernel's; the tray only
// opens, never creates.
#include "os/event.h"
#include "tray/services/console_switch.h"

namespace ks::tray {

bool set_event_if_exists(const std::string& name) {
  Event e;
  if (!e.open_named(name)) return false;
  e.set();
  return true;
}

}  // namespace ks::tray
