// The console module manager's entry points while no manager is linked in: no loader block, no
// watcher, no module ever runs, so every value path keeps LV1's values cached ("no module").
// The manager's own files replace this one.
#include "loader/win/loader_core.h"
#include "loader/win/module_seam.h"

namespace ks {

void create_loader_block() {}
void start_modules_watcher() {}
void start_console_module(int) {}

void refresh_live_card(int type) {
  ConsoleTypeRecord& t = console_type(type);
  GainObject* live = live_gain_object(type);
  LockGuard<RwLock> g(t.module_srw);
  t.attached = live;
}

}  // namespace ks
