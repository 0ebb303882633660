// Kestrune.dll: the library entry and its one export, LV1's factory.
#include <windows.h>

#include "loader/win/factory.h"
#include "loader/win/loader_core.h"

extern "C" __declspec(dllexport) ks::IoBoxModuleInterface* create_waves_iobox_module_interface_ver9(
    const char* bundle_path) {
  return ks::create_module_interface(bundle_path);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(self);
      ks::loader_attach(self);
      break;
    case DLL_PROCESS_DETACH: ks::loader_detach(); break;
    default: break;
  }
  return TRUE;
}
