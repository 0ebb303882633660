// What the programs that play a user of the real Kestrune.exe share: waiting for a condition, a
// child process that ends with the test, a click on a painted region, the shown dashboard, files
// read whole.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tray/ui/kit.h"

namespace ks::tray::testing {

// True once `ready` holds, false when `limit_ms` passed first; asks every 50 ms.
inline bool eventually(const std::function<bool()>& ready, int limit_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

inline std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::string read_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A child process, ended when the test lets go of it.
struct Process {
  PROCESS_INFORMATION pi{};
  bool start(const std::string& exe, const std::string& args) {
    std::wstring cmd = L"\"" + wide(exe) + L"\" " + wide(args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi) != 0;
  }
  // The exit code, or -1 when it did not end in time.
  long wait(DWORD ms) {
    if (!pi.hProcess || WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<long>(code);
  }
  ~Process() {
    if (pi.hProcess) {
      if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  }
};

// A click at the centre of the last enabled region with this id (the window hit-tests from the
// last region to the first); false when there is none.
inline bool click(HWND dash, const std::vector<HitRegion>& regions, int32_t id) {
  for (size_t i = regions.size(); i-- > 0;) {
    const HitRegion& r = regions[i];
    if (r.id != id || !r.enabled) continue;
    const LPARAM at = MAKELPARAM(static_cast<int>(r.x + r.w / 2), static_cast<int>(r.y + r.h / 2));
    PostMessageW(dash, WM_MOUSEMOVE, 0, at);
    PostMessageW(dash, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(dash, WM_LBUTTONUP, 0, at);
    return true;
  }
  return false;
}

// The dashboard window while it is shown, else null.
inline HWND visible_dashboard() {
  HWND d = FindWindowW(L"KestruneDash", nullptr);
  return d && IsWindowVisible(d) ? d : nullptr;
}

}  // namespace ks::tray::testing
