#include <windows.h>

#include "os/win/wide.h"
#include "tray/services/tray_log_platform.h"

namespace ks::tray {

LocalTime local_time_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wHour, st.wMinute, st.wSecond};
}

void append_log_line(const std::string& path, const std::string& line) {
  HANDLE h = CreateFileW(win::widen(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  std::string data = line + "\r\n";
  DWORD written = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
}

}  // namespace ks::tray
