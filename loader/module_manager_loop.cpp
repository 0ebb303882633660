#include "loader/module_manager_loop.h"

#include "loader/module_manager_rules.h"

namespace ks {

void run_modules_watcher(Clock& clock, Event* changed, const std::function<uint32_t()>& pass,
                         const std::function<bool()>& keep_going) {
  while (keep_going()) {
    const uint32_t wait = pass();
    if (changed == nullptr || !changed->valid()) return;
    if (clock.wait(*changed, wait)) clock.sleep(kModulesChangedPauseMs);
  }
}

}  // namespace ks
