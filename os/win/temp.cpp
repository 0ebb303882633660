#include "os/temp.h"

#include <windows.h>

#include "os/win/wide.h"

namespace ks {

std::string temp_dir() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return "C:\\Windows\\Temp\\";
  std::string dir = win::narrow(std::wstring_view(buf, n));
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

}  // namespace ks
