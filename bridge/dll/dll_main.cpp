// The DLL entry of every console module. The one export, ks_module_entry, is the module's own
// file's: it hands the framework the module's parts.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // The module starts its threads itself and wants no notice of anyone else's.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
