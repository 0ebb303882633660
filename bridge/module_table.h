// The module's static ConsoleModuleTable and the body of its one export.
#pragma once

#include <cstdint>

#include "shared/module_table.h"

namespace ks {

// The table for version 3 (the same pointer every time), null for any other version. The type
// name ("wing" or "x32") is the module's own; the first call fixes it.
const ConsoleModuleTable* console_module_entry(uint32_t version, const char* type_name);

}  // namespace ks
