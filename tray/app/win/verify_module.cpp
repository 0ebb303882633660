// The module load test: the installer starts a copy of this program on a staged library, so a
// library that Windows refuses, or that crashes as it loads, takes down only this copy.
#include <windows.h>

#include "tray/app/win/app_modes.h"

namespace ks::tray {

int run_verify_module(const ModeArgs& args) {
  if (args.args.size() < 3) return ERROR_INVALID_PARAMETER;  // 87
  const std::u16string& path = args.args[2];
  if (LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()))) return 0;  // left loaded
  DWORD err = GetLastError();
  return err ? static_cast<int>(err) : 1;
}

}  // namespace ks::tray
