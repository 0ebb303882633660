// Fellbrook, the WING console module: its one export hands the framework the WING driver.
#include "bridge/module_table.h"
#include "desk/wing/wing_desk.h"

extern "C" __declspec(dllexport) const ks::ConsoleModuleTable* ks_module_entry(uint32_t version) {
  return ks::console_module_entry(version, ks::wing_module_parts());
}
