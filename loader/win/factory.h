// LV1's factory: create_waves_iobox_module_interface_ver9 of Kestrune.dll.
#pragma once

#include "shared/iobox.h"

namespace ks {

// The loader's one module interface; the same pointer for every call once it exists, null
// (retried on the next call) while no Waves module can be loaded.
IoBoxModuleInterface* create_module_interface(const char* bundle_path);

}  // namespace ks
