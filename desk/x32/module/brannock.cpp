// Brannock, the X32/M32 console module: its one export hands the framework the X32/M32 driver.
#include "bridge/module_table.h"
#include "desk/x32/x32_desk.h"

extern "C" __declspec(dllexport) const ks::ConsoleModuleTable* ks_module_entry(uint32_t version) {
  return ks::console_module_entry(version, ks::x32_module_parts());
}
