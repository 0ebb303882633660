// The real process list, process times and version resources.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "os/win/wide.h"
#include "tray/services/lv1_build.h"

namespace ks::tray {

namespace {

uint64_t filetime_of(const FILETIME& t) {
  return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

class WindowsLv1System : public Lv1System {
public:
  ~WindowsLv1System() override {
    if (watched_) CloseHandle(watched_);
  }

  bool processes(std::vector<ProcessEntry>& out) override {
    out.clear();
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
      e.szExeFile[MAX_PATH - 1] = L'\0';
      out.push_back({win::narrow(e.szExeFile), static_cast<uint32_t>(e.th32ProcessID)});
    }
    CloseHandle(snap);
    return true;
  }

  bool process_creation_time(uint32_t pid, uint64_t& filetime) override {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return false;
    FILETIME created{}, exited{}, kernel{}, user{};
    const BOOL ok = GetProcessTimes(h, &created, &exited, &kernel, &user);
    CloseHandle(h);
    if (!ok) return false;
    filetime = filetime_of(created);
    return true;
  }

  // The handle keeps the process id from being reused while it is held; the image name, read
  // once per process, makes sure the id still named that process when it was opened.
  ProcessWatch watch_process(const ProcessEntry& p) override {
    if (!watched_ || watched_pid_ != p.pid) {
      if (watched_) CloseHandle(watched_);
      watched_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.pid);
      watched_pid_ = p.pid;
      if (!watched_) return ProcessWatch::unknown;
      wchar_t path[1024] = {};
      DWORD n = 1024;
      const std::wstring want = win::widen(p.exe);
      const bool named = QueryFullProcessImageNameW(watched_, 0, path, &n) && n >= want.size() &&
                         (n == want.size() || path[n - want.size() - 1] == L'\\') &&
                         lstrcmpiW(path + (n - want.size()), want.c_str()) == 0;
      if (!named) {
        CloseHandle(watched_);
        watched_ = nullptr;
        return ProcessWatch::unknown;
      }
    }
    const DWORD w = WaitForSingleObject(watched_, 0);
    if (w == WAIT_TIMEOUT) return ProcessWatch::runs;
    if (w == WAIT_OBJECT_0) {
      CloseHandle(watched_);
      watched_ = nullptr;
      return ProcessWatch::ended;
    }
    return ProcessWatch::unknown;
  }

  uint64_t now_filetime() override {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return filetime_of(now);
  }

  std::string file_version(const std::string& path) override {
    const std::wstring w = win::widen(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(w.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(w.c_str(), 0, size, data.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
      return {};
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(HIWORD(info->dwFileVersionMS)),
                  unsigned(LOWORD(info->dwFileVersionMS)), unsigned(HIWORD(info->dwFileVersionLS)),
                  unsigned(LOWORD(info->dwFileVersionLS)));
    return text;
  }

private:
  HANDLE watched_ = nullptr;
  uint32_t watched_pid_ = 0;
};

}  // namespace

Lv1System& system_lv1() {
  static WindowsLv1System sys;
  return sys;
}

}  // namespace ks::tray
