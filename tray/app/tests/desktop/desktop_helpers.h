// What the programs that play a user of the real Kestrune.exe share: waiting for a condition, a
// child process that ends with the test, the shown dashboard, files read whole.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

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

// The dashboard window while it is shown, else null.
inline HWND visible_dashboard() {
  HWND d = FindWindowW(L"KestruneDash", nullptr);
  return d && IsWindowVisible(d) ? d : nullptr;
}

}  // namespace ks::tray::testing
