// The Windows entry points of a console module: the DLL entry and the one export. Compiled into
// each module with KS_MODULE_TYPE set to its type name ("wing" or "x32").
#include <windows.h>

#include "bridge/module_table.h"

#ifndef KS_MODULE_TYPE
#error "KS_MODULE_TYPE names the console type of this module"
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // The module starts its threads itself and wants no notice of anyone else's.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" __declspec(dllexport) const ks::ConsoleModuleTable* ks_module_entry(uint32_t version) {
  return ks::console_module_entry(version, KS_MODULE_TYPE);
}
