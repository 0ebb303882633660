// The X32/M32 desk driver as a console module hands it to the framework.
#pragma once

#include "bridge/module_table.h"

namespace ks {

// Type "x32" and the X32/M32's DeskDriver record; the desk refuses no control connection, so
// the status block never shows that text.
const ModuleParts& x32_module_parts();

}  // namespace ks
