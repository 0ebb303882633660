// The module's static ConsoleModuleTable and the body of its one export.
#pragma once

#include <cstdint>

#include "shared/desk_driver.h"
#include "shared/module_table.h"

namespace ks {

struct DriverServices;

// What a console module hands the framework at its entry: the type name of its table and the
// desk driver it is built with.
struct ModuleParts {
  const char* type_name;           // "wing" or "x32"
  const DeskDriver* driver;        // static, the same record on every entry
  uint32_t (*control_refusals)();  // the driver's refused control connections; null: none
};

// The table for version 3 (the same pointer every time), null for any other version. The type
// name is the module's own; the first call fixes it. Each version 3 call hands the framework the
// driver and gives the driver the framework's services.
const ConsoleModuleTable* console_module_entry(uint32_t version, const ModuleParts& parts);

// The framework's services for its driver: the module log, `stuck_threads` and the stop flag.
const DriverServices* framework_driver_services();

}  // namespace ks
