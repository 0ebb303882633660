// The tray only ever opens the loader's event, with the one right it needs: a tray that created
// it would hold an event no loader waits on.
#include <windows.h>

#include "os/win/wide.h"
#include "tray/services/console_switch.h"

namespace ks::tray {

bool set_event_if_exists(const std::string& name) {
  if (name.empty()) return false;
  HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, win::widen(name).c_str());
  if (!h) return false;  // no loader running: it reads state.cfg when it starts
  const bool ok = SetEvent(h) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace ks::tray
