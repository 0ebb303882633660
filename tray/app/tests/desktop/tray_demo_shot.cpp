// The demo's tray part: the tray program beside the running plug-in side, and a screenshot of its
// live dashboard (the setup page with the console found and answering).
//   tray-demo-shot.exe <png file>
// Prints the screenshot's path; exit 0 when the dashboard showed the console answering.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tray/app/tests/desktop/desktop_helpers.h"
#include "tray/app/tests/desktop/plugin_side.h"
#include "tray/app/tests/desktop/window_capture.h"
#include "tray/services/status_link.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace {

using namespace ks::tray;
using testing::eventually;
using testing::visible_dashboard;

bool answering() {
  StatusLink link;
  const StatusSnapshot s = link.read_status_snapshot("");
  return s.present && s.desk_answering && s.lv1_loaded;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tray-demo-shot <png file>\n");
    return 2;
  }
  GdiplusSession gdiplus;
  testing::PluginSide plugin;
  std::string why;
  if (!plugin.install(why) || !plugin.start(why)) {
    std::printf("demo: the plug-in side did not start: %s\n", why.c_str());
    return 1;
  }
  std::printf(
      "demo: the plug-in side runs again, for the tray program: LV1 stand-in, loader, WING module, desk\n");
  if (!eventually(answering, 30000)) {
    std::printf("demo: the WING module did not link with the desk\n");
    return 1;
  }
  const std::string exe = testing::win_path(KS_KESTRUNE_EXE);
  std::wstring cmd = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    std::printf("demo: Kestrune.exe did not start\n");
    return 1;
  }
  std::printf("demo: Kestrune.exe started beside it\n");
  int rc = 1;
  if (eventually([] { return visible_dashboard() != nullptr; }, 20000)) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(2500));  // a few poll ticks: the page settles
    if (testing::capture_window(visible_dashboard(), argv[1]) > 8) {
      std::printf("demo: the live dashboard: %ls\n", argv[1]);
      rc = 0;
    } else {
      std::printf("demo: the dashboard could not be captured\n");
    }
  } else {
    std::printf("demo: the dashboard did not open\n");
  }
  if (HWND tray = FindWindowW(L"KestruneTray", nullptr)) PostMessageW(tray, WM_COMMAND, 1022, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return rc;
}
