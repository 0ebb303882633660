// Kestrune.exe's entry. Start-up steps that every face shares come first, then the mode table
// picks a face; without one the program is the resident tray program.
#include <windows.h>
#include <shellapi.h>
#include <winsock2.h>

#include <string>

#include "tray/app/win/app_modes.h"
#include "tray/services/updater.h"

namespace {

void set_dpi_awareness() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto set_context = user32 ? reinterpret_cast<SetContext>(reinterpret_cast<void*>(
                                  GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                            : nullptr;
  // Per-monitor aware V2, then per-monitor aware; the system-wide call when neither is there.
  if (set_context && (set_context(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))) ||
                      set_context(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-3)))))
    return;
  SetProcessDPIAware();
}

ks::tray::ModeArgs mode_args() {
  ks::tray::ModeArgs a;
  const wchar_t* raw = GetCommandLineW();
  a.command_line.assign(reinterpret_cast<const char16_t*>(raw), wcslen(raw));
  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(raw, &argc)) {
    for (int i = 0; i < argc; ++i)
      a.args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]), wcslen(argv[i]));
    LocalFree(argv);
  }
  return a;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  set_dpi_awareness();
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  RegisterWindowMessageW(L"KestruneShowDashboard");

  const ks::tray::ModeArgs args = mode_args();
  ks::tray::ModeArgs chosen = args;
  if (const ks::tray::ModeRow* mode =
          ks::tray::find_mode(ks::tray::app_modes(), args.args, &chosen.option))
    return mode->run(chosen);

  // A copy started by the updater waits for the one it replaces, then removes it.
  ks::tray::finish_self_update(args.command_line);

  return ks::tray::run_tray_program(args);
}
