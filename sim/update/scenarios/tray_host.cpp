// Plays the resident tray program for the self-update scenario: a hidden window whose 100 ms
// timer runs the updater's tick (its clock stepped past the first check's delay after the first
// tick), the real check thread, placing and hand-over. It ends on WM_CLOSE, as the tray program
// does when a new copy takes over.
//   update_tray_host.exe [<installed bundle's Contents\Win64>]
#include <windows.h>

#include <string>

#include "os/utf.h"
#include "os/win/wide.h"
#include "tray/services/lv1_build.h"
#include "tray/services/updater.h"

namespace {

ks::tray::UpdateHost g_host;
int g_ticks = 0;

LRESULT CALLBACK host_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      ks::tray::update_tick_at(g_host, GetTickCount64() + (g_ticks++ ? 31000 : 0));
      return 0;
    case WM_CLOSE: DestroyWindow(w); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
  const wchar_t* raw = GetCommandLineW();
  ks::tray::finish_self_update(std::u16string(reinterpret_cast<const char16_t*>(raw), wcslen(raw)));

  WNDCLASSW wc{};
  wc.lpfnWndProc = host_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KestruneUpdateHost";
  RegisterClassW(&wc);
  // Message-only: the scenarios run headless, without a desktop to put a window on.
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"Kestrune", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  if (!w) return 2;

  const std::string bundle = argc > 1 ? argv[1] : "";
  g_host.tray_window = w;
  g_host.install_folder = [bundle] { return bundle; };
  g_host.auto_install = [bundle] { return !bundle.empty(); };
  g_host.lv1_running = [] { return ks::tray::lv1_running(ks::tray::system_lv1()); };
  g_host.install_loader = [](std::string& error) {
    error = "this stand-in installs nothing";
    return false;
  };
  SetTimer(w, 1, 100, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}
