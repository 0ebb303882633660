// The WING desk driver as a console module hands it to the framework.
#pragma once

#include "bridge/module_table.h"

namespace ks {

// Type "wing", the WING's DeskDriver record, and as refused control connections the link's run
// of failed connects (the status block shows them).
const ModuleParts& wing_module_parts();

}  // namespace ks
