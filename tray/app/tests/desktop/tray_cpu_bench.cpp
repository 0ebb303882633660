// Benchmark, not a test: the CPU the resident tray program takes beside the running plug-in side
// (LV1 stand-in, loader, WING module, WING simulator), first with its dashboard hidden, then
// with it visible and repainting at 20 Hz. Run it in a virtual display:
//   tools/netns-run tools/wine-desktop-run build/windows/tray/app/tray_cpu_bench.exe [seconds]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tray/app/tests/desktop/plugin_side.h"
#include "tray/services/status_link.h"

namespace {

using namespace ks::tray;

uint64_t cpu_100ns(HANDLE process) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
  auto v = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return v(kernel) + v(user);
}

// Percent of one core over `seconds`, and the CPU seconds per minute.
void measure(const char* what, HANDLE process, int seconds) {
  const uint64_t c0 = cpu_100ns(process);
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t c1 = cpu_100ns(process);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = static_cast<double>(c1 - c0) / 1e7;
  std::printf("tray cpu: %-34s %7.3f %% of a core  (%.3f s of CPU per minute over %.0f s)\n", what,
              100.0 * cpu / wall, 60.0 * cpu / wall, wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
  testing::PluginSide plugin;
  std::string why;
  if (!plugin.install(why) || !plugin.start(why)) {
    std::printf("tray cpu: the plug-in side did not start: %s\n", why.c_str());
    return 1;
  }
  StatusLink link;
  for (int i = 0; i < 300 && !link.read_status_snapshot("").desk_answering; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string exe = testing::win_path(KS_KESTRUNE_EXE);
  std::wstring cmd = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" --tray";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  HWND tray = nullptr;
  for (int i = 0; i < 200 && !(tray = FindWindowW(L"KestruneTray", nullptr)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!tray) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(5));  // past start-up
  measure("dashboard hidden", pi.hProcess, seconds);
  PostMessageW(tray, WM_COMMAND, 1001, 0);  // show it
  std::this_thread::sleep_for(std::chrono::seconds(3));
  HWND dash = FindWindowW(L"KestruneDash", nullptr);
  if (!dash || !IsWindowVisible(dash)) {
    std::printf("tray cpu: the dashboard did not open\n");
    return 1;
  }
  measure("dashboard visible (20 Hz frames)", pi.hProcess, seconds);
  PostMessageW(tray, WM_COMMAND, 1022, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return 0;
}
