// Benchmark, not a test: the CPU the resident tray program takes beside the running plug-in side
// (LV1 stand-in, loader, WING module, WING simulator), first with its dashboard hidden, then
// with it visible and repainting at 20 Hz. Run it in a virtual display:
//   tools/netns-run tools/wine-desktop-run build/windows/tray/app/tray_cpu_bench.exe [seconds]
//
// What it measures: the user + kernel time of the measured process's own threads. Under Wine,
// GetProcessTimes on another process returns the caller's own times, so there the threads are
// summed (GetThreadTimes reads each thread's times from the host). The work that Wine's server
// and the X server do for the process is not in that figure: under Wine the bench prints them
// beside it, read from the host's /proc, together with the same figures for the plug-in side
// alone and for two idle programs (one hidden window, a 1000 ms timer, and the same with the
// tray's 50 ms frame timer as well), which show what Wine itself costs a program that does
// nothing.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tray/app/tests/desktop/plugin_side.h"
#include "tray/services/status_link.h"

namespace {

using namespace ks::tray;

uint64_t ft(const FILETIME& f) {
  return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

bool under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// CPU of one process in 100 ns units: the process's times on Windows; under Wine the sum over its
// live threads.
uint64_t cpu_100ns(HANDLE process, DWORD pid) {
  FILETIME created, ended, kernel, user;
  if (!under_wine())
    return GetProcessTimes(process, &created, &ended, &kernel, &user) ? ft(kernel) + ft(user) : 0;
  uint64_t sum = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 t{};
  t.dwSize = sizeof t;
  for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t)) {
    if (t.th32OwnerProcessID != pid) continue;
    if (HANDLE h = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, t.th32ThreadID)) {
      if (GetThreadTimes(h, &created, &ended, &kernel, &user)) sum += ft(kernel) + ft(user);
      CloseHandle(h);
    }
  }
  CloseHandle(snap);
  return sum;
}

// ---- the host's view under Wine: the Wine server of this prefix and the X server ----------------

std::string read_small(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20))
      text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

// utime + stime of a host process in clock ticks (100 a second on Linux), -1 when unreadable.
long long host_ticks(int pid) {
  const std::string s = read_small("Z:\\proc\\" + std::to_string(pid) + "\\stat");
  const size_t close = s.rfind(')');
  if (close == std::string::npos) return -1;
  // Fields after the command: state is field 3; utime and stime are fields 14 and 15.
  const char* p = s.c_str() + close + 1;
  long long v[13] = {};
  char state = 0;
  if (std::sscanf(p, " %c %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld", &state,
                  &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10],
                  &v[11]) != 13)
    return -1;
  return v[10] + v[11];
}

struct HostProcess {
  const char* label;
  int pid = -1;
};

// The Wine server that serves this prefix, and the X server of this display.
std::vector<HostProcess> host_processes() {
  std::vector<HostProcess> found;
  if (!under_wine()) return found;
  char prefix[1024] = {}, display[64] = {};
  GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
  GetEnvironmentVariableA("DISPLAY", display, sizeof display);
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA("Z:\\proc\\*", &d);
  if (h == INVALID_HANDLE_VALUE) return found;
  int wineserver = -1, xserver = -1;
  do {
    const int pid = std::atoi(d.cFileName);
    if (pid <= 0) continue;
    const std::string dir = "Z:\\proc\\" + std::to_string(pid) + "\\";
    std::string cmd = read_small(dir + "cmdline");
    std::replace(cmd.begin(), cmd.end(), '\0', ' ');
    if (wineserver < 0 && cmd.find("wineserver") != std::string::npos && prefix[0]) {
      std::string env = read_small(dir + "environ");
      if (env.find(std::string("WINEPREFIX=") + prefix + '\0') != std::string::npos)
        wineserver = pid;
    } else if (xserver < 0 && display[0] &&
               cmd.rfind("Xvfb " + std::string(display) + ' ', 0) == 0) {
      xserver = pid;
    }
  } while (FindNextFileA(h, &d));
  FindClose(h);
  if (wineserver > 0) found.push_back({"Wine server", wineserver});
  if (xserver > 0) found.push_back({"X server", xserver});
  return found;
}

// ---- measuring ----------------------------------------------------------------------------------

struct Target {
  HANDLE process = nullptr;
  DWORD pid = 0;
};

// Percent of one core over `seconds` for the target (when there is one) and the host processes.
void measure(const char* what, const Target& t, const std::vector<HostProcess>& host, int seconds) {
  std::vector<long long> h0;
  for (const HostProcess& h : host) h0.push_back(host_ticks(h.pid));
  const uint64_t c0 = t.process ? cpu_100ns(t.process, t.pid) : 0;
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t c1 = t.process ? cpu_100ns(t.process, t.pid) : 0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("tray cpu: %-40s", what);
  if (t.process && c1 < c0) {
    // Under Wine the sum is over live threads: one that ended meanwhile took its time with it.
    std::printf(" %35s", "(a thread ended: measure again)");
  } else if (t.process) {
    const double cpu = static_cast<double>(c1 - c0) / 1e7;
    std::printf(" %7.3f %% of a core (%.3f s of CPU per minute)", 100.0 * cpu / wall,
                60.0 * cpu / wall);
  } else {
    std::printf(" %35s", "");
  }
  for (size_t i = 0; i < host.size(); ++i) {
    const long long h1 = host_ticks(host[i].pid);
    if (h0[i] >= 0 && h1 >= h0[i]) std::printf("  %s %.2f %%", host[i].label, (h1 - h0[i]) / wall);
  }
  std::printf("  [%.0f s]\n", wall);
  std::fflush(stdout);
}

bool start(const std::wstring& cmdline, PROCESS_INFORMATION& pi) {
  std::wstring cmd = cmdline;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi) != 0;
}

void finish(PROCESS_INFORMATION& pi) {
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

std::wstring own_path() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// An idle program for reference: one hidden window, the given timers doing nothing, a message loop.
LRESULT CALLBACK idle_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return m == WM_TIMER ? 0 : DefWindowProcW(w, m, wp, lp);
}

int idle_program(int argc, char** argv) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = idle_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KestruneBenchIdle";
  RegisterClassExW(&wc);
  HWND w = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, wc.hInstance, nullptr);
  for (int i = 2; i < argc; ++i)
    SetTimer(w, static_cast<UINT_PTR>(i), static_cast<UINT>(std::atoi(argv[i])), nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

void measure_idle(const char* what, const wchar_t* timers, const std::vector<HostProcess>& host,
                  int seconds) {
  PROCESS_INFORMATION pi{};
  if (!start(L"\"" + own_path() + L"\" --idle-window " + timers, pi)) return;
  HWND w = nullptr;
  for (int i = 0; i < 100 && !(w = FindWindowW(L"KestruneBenchIdle", nullptr)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  measure(what, {pi.hProcess, pi.dwProcessId}, host, seconds);
  if (w) PostMessageW(w, WM_CLOSE, 0, 0);
  finish(pi);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--idle-window") == 0) return idle_program(argc, argv);
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
  const std::vector<HostProcess> host = host_processes();
  std::printf(
      "tray cpu: user + kernel time of the process's own threads%s; the host's servers beside it\n",
      under_wine() ? " (summed per thread: Wine's GetProcessTimes gives the caller's own)" : "");
  measure("plug-in side alone (no program)", {}, host, seconds);
  measure_idle("idle program, 1000 ms timer", L"1000", host, seconds);
  measure_idle("idle program, 1000 ms + 50 ms timers", L"1000 50", host, seconds);

  const std::string exe = testing::win_path(KS_KESTRUNE_EXE);
  PROCESS_INFORMATION pi{};
  if (!start(L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" --tray", pi)) return 1;
  HWND tray = nullptr;
  for (int i = 0; i < 200 && !(tray = FindWindowW(L"KestruneTray", nullptr)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!tray) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(5));  // past start-up
  measure("Kestrune.exe, dashboard hidden", {pi.hProcess, pi.dwProcessId}, host, seconds);
  PostMessageW(tray, WM_COMMAND, 1001, 0);  // show it
  std::this_thread::sleep_for(std::chrono::seconds(3));
  HWND dash = FindWindowW(L"KestruneDash", nullptr);
  if (!dash || !IsWindowVisible(dash)) {
    std::printf("tray cpu: the dashboard did not open\n");
    return 1;
  }
  measure("Kestrune.exe, dashboard visible (20 Hz)", {pi.hProcess, pi.dwProcessId}, host, seconds);
  PostMessageW(tray, WM_COMMAND, 1022, 0);
  finish(pi);
  return 0;
}
