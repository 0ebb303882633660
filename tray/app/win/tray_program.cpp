// The resident tray program: one instance per session, the hidden KestruneTray window that owns
// the notification icon, both timers and the hot key, the tray menu and its commands, and the
// dashboard window.
#include <windows.h>
#include <shellapi.h>
#include <winsock2.h>

#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include <cstring>
#include <string>

#include "shared/names.h"
#include "shared/status_block.h"
#include "tray/app/win/app_modes.h"
#include "tray/app/win/bridge_bindings.h"
#include "tray/app/win/live_bindings.h"
#include "tray/services/console_table.h"
#include "tray/services/settings_file.h"
#include "tray/services/text_utils.h"
#include "tray/services/tray_log.h"
#include "tray/ui/shell/shell_texts.h"
#include "tray/ui/win/dashboard_window.h"
#include "tray/ui/win/gdiplus_canvas.h"
#include "tray/ui/win/state_icon.h"

namespace ks::tray {

namespace {

constexpr wchar_t kTrayClass[] = L"KestruneTray";
constexpr wchar_t kMutexName[] = L"Local\\FenwarrowSingleInstance";
constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT_PTR TIMER_POLL = 1, TIMER_FRAME = 2;
constexpr int HOTKEY_DASHBOARD = 1;

TrayProgram* g_p = nullptr;
HWND g_tray = nullptr;
UINT g_show_message = 0, g_taskbar_created = 0;
NOTIFYICONDATAW g_nid{};
HICON g_icons[4] = {};
HICON g_dash_icon = nullptr;
bool g_icon_stock[4] = {};
std::unique_ptr<PollSteps> g_poll;

template <size_t N>
std::string field(const volatile char (&f)[N]) {
  std::string s;
  for (size_t i = 0; i < N && f[i]; ++i) s += f[i];
  return s;
}

HICON state_icon(TrayState s) {
  const int i = static_cast<int>(s);
  if (!g_icons[i]) g_icons[i] = make_icon(i, small_icon_size(), system_uses_light_theme(), nullptr);
  // The stock fallback is shared: it is never destroyed, so remember which ones are ours.
  g_icon_stock[i] = g_icons[i] == LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON,
                                             small_icon_size(), small_icon_size(), LR_SHARED);
  return g_icons[i];
}

HICON dashboard_icon() {
  if (!g_dash_icon) g_dash_icon = make_icon(1, 32, system_uses_light_theme(), nullptr);
  return g_dash_icon;
}

void destroy_icons() {
  for (int i = 0; i < 4; ++i) {
    if (g_icons[i] && !g_icon_stock[i]) DestroyIcon(g_icons[i]);
    g_icons[i] = nullptr;
  }
  if (g_dash_icon) DestroyIcon(g_dash_icon);
  g_dash_icon = nullptr;
}

TrayFacts tray_facts() {
  TrayProgram& p = *g_p;
  TrayFacts f;
  f.blocked = p.load_watch && p.load_watch->blocked();
  f.version = version_text();
  f.block_selected = p.link.select();
  if (!f.block_selected) return f;
  f.module_too_old = p.link.module_too_old();
  if (const StatusBlock* b = status_block_of(p.link.active_view())) {
    const volatile StatusBlock* v = b;
    f.status_text = field(v->status_text);
    f.desk_ip = field(v->desk_ip);
    const uint32_t count = v->watch_count;
    f.watch_count = static_cast<int32_t>(count < 64 ? count : 64);
    f.sent = v->sent_count;
    f.received = v->recv_count;
    f.build_profile = field(v->profile);
  }
  return f;
}

void copy_tip(const std::u16string& tip) {
  const size_t n = std::min(tip.size(), std::size(g_nid.szTip) - 1);
  std::memcpy(g_nid.szTip, tip.data(), n * sizeof(wchar_t));
  g_nid.szTip[n] = 0;
}

// Every NIM_MODIFY is a message to Explorer's process (with the icon's bitmaps when NIF_ICON is
// set), so the notification area hears of the tip only when its text changed.
void refresh_tooltip() {
  wchar_t shown[std::size(g_nid.szTip)];
  std::memcpy(shown, g_nid.szTip, sizeof shown);
  copy_tip(tooltip_text(tray_facts()));
  if (std::memcmp(shown, g_nid.szTip, sizeof shown) == 0) return;
  g_nid.uFlags = NIF_TIP;
  // Not taken (Explorer busy, no notification area yet): the next tick offers it again.
  if (!Shell_NotifyIconW(NIM_MODIFY, &g_nid)) std::memcpy(g_nid.szTip, shown, sizeof shown);
}

void show_state_icon(TrayState from, TrayState to) {
  tray_log("state %d -> %d", static_cast<int>(from), static_cast<int>(to));
  g_nid.hIcon = state_icon(to);
  g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &g_nid);
}

void invalidate_dashboard() {
  if (HWND d = dashboard_window()) InvalidateRect(d, nullptr, FALSE);
}

void rebuild_icons() {
  HICON old[4], old_dash = g_dash_icon;
  bool stock[4];
  for (int i = 0; i < 4; ++i) {
    old[i] = g_icons[i];
    stock[i] = g_icon_stock[i];
    g_icons[i] = nullptr;
  }
  g_dash_icon = nullptr;
  g_nid.hIcon = state_icon(g_p->shown);
  g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &g_nid);
  if (dashboard_window()) set_dashboard_icon(dashboard_icon());
  for (int i = 0; i < 4; ++i)
    if (old[i] && !stock[i]) DestroyIcon(old[i]);
  if (old_dash) DestroyIcon(old_dash);
  tray_log("theme changed -> icons rebuilt (%s taskbar)",
           system_uses_light_theme() ? "light" : "dark");
}

void open_and_front() {
  open_dashboard();
  if (HWND d = dashboard_window()) {
    ShowWindow(d, IsIconic(d) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(d);
  }
}

// A console module runs in LV1: the dashboard's main page is then its status page.
bool bridge_running() {
  return g_p->link.select() && snapshot_of(g_p->link.active_view()).lv1_loaded != 0;
}

// The hot key, the double click and TrayCommand 1001: the channels while the bridge runs, else
// the setup page, chosen as at start.
void show_dashboard_window() {
  HWND d = dashboard_window();
  if (d && IsWindowVisible(d)) {
    ShowWindow(d, SW_HIDE);
    return;
  }
  g_p->paths.locate_install();
  if (bridge_running()) {
    if (g_p->ui.setup_open) g_p->ui.fit_shrink = true;  // the status page is the shorter one
    g_p->ui.setup_open = false;
  } else if (!g_p->ui.setup_open) {
    g_p->ui.setup_open = true;
    g_p->actions->discover_consoles();
  }
  open_dashboard();
  place_dashboard_window();
  if ((d = dashboard_window())) {
    ShowWindow(d, SW_SHOW);
    apply_dashboard_z_order();
    SetForegroundWindow(d);
  }
}

std::string temp_folder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  return n ? to_utf8(std::u16string(reinterpret_cast<const char16_t*>(temp), n)) : std::string();
}

void open_module_log() {
  const bool x32 = g_p->link.active_console() == 1;
  std::string path = temp_folder() + (x32 ? "kestrune-x32.log" : "kestrune.log");
  if (!file_exists(path)) path = temp_folder() + (x32 ? "kestrune.log" : "kestrune-x32.log");
  const std::u16string w = from_utf8(path);
  ShellExecuteW(nullptr, L"open", L"notepad.exe", reinterpret_cast<const wchar_t*>(w.c_str()),
                nullptr, SW_SHOWNORMAL);
}

void toggle_detailed_logging() {
  const std::string dir = g_p->install_dir();
  const std::string cfg =
      dir.empty() ? std::string() : console_cfg_path(dir, g_p->link.active_console());
  const bool on = !cfg.empty() && !diag_enabled(cfg);
  const bool ok = !dir.empty() && set_diag(dir, on);
  tray_log("detailed logging %s%s", on ? "on" : "off", ok ? "" : " - could not write kestrune.cfg");
  HWND owner = dashboard_window() ? dashboard_window() : g_tray;
  if (!ok) {
    MessageBoxW(
        owner,
        L"Could not change the setting: the console's settings file in Kestrune's bundle is not writable.",
        L"Kestrune", MB_OK | MB_ICONWARNING);
  } else {
    MessageBoxW(
        owner,
        on ? L"Detailed logging is on, for every console, within a few seconds.\n\nIt records every gain and "
             L"48V move, so the log grows quickly. Turn it off again for shows."
           : L"Detailed logging is off.",
        L"Kestrune", MB_OK | MB_ICONINFORMATION);
  }
}

void post_watch(const char* group) {
  if (!g_p->link.select()) return;
  if (const StatusBlock* b = status_block_of(g_p->link.active_view())) {
    const volatile StatusBlock* v = b;
    g_p->link.post_watch_request(group, v->watch_base, v->watch_count);
  }
}

void post_watch_count(uint32_t count) {
  if (!g_p->link.select()) return;
  if (const StatusBlock* b = status_block_of(g_p->link.active_view())) {
    const volatile StatusBlock* v = b;
    g_p->link.post_watch_request({}, v->watch_base, count);
  }
}

void tray_command(int id) {
  TrayProgram& p = *g_p;
  switch (id) {
    case kMenuToggleDashboard: show_dashboard_window(); return;
    case 1002: post_watch("LCL"); return;
    case 1003: post_watch("AUX"); return;
    case 1004: post_watch("A"); return;
    case 1005: post_watch("B"); return;
    case 1006: post_watch("C"); return;
    case 1007: post_watch("SC"); return;
    case 1008: post_watch_count(16); return;
    case 1009: post_watch_count(32); return;
    case 1010: post_watch_count(64); return;
    case kMenuOpenLog: open_module_log(); return;
    case kMenuDiagnostics: p.actions->write_diagnostics_report(); return;
    case kMenuAlwaysOnTop:
      p.always_on_top = !p.always_on_top;
      apply_dashboard_z_order();
      return;
    case kMenuSetup:
      p.ui.setup_open = true;
      p.paths.locate_install();
      p.actions->discover_consoles();
      p.ui.action_message.clear();
      open_dashboard();
      place_dashboard_window();
      open_and_front();
      invalidate_dashboard();
      return;
    case 1017:
    case 1018:
      if (p.link.select())
        p.link.status_post_request(status_suffix(p.link.active_console()), id == 1017);
      return;
    case kMenuClearClips: {
      ClipHistory& h = p.bridge->clips();
      tray_log("clip history cleared (%u channel(s), %u overload(s))", h.clipped_channels,
               h.overloads);
      clear_clip_history(h);
      invalidate_dashboard();
      return;
    }
    case kMenuDetailedLogging: toggle_detailed_logging(); return;
    case kMenuSupportBundle: p.actions->write_support_bundle(); return;
    case kMenuExit: PostQuitMessage(0); return;
    case kMenuConsoleBase:
    case kMenuConsoleBase + 1:
      toggle_console_from_menu(p.ui, id - kMenuConsoleBase, *p.actions);
      invalidate_dashboard();
      return;
    default: return;
  }
}

void show_tray_menu() {
  TrayProgram& p = *g_p;
  p.paths.locate_install();
  MenuFacts f;
  f.tray = tray_facts();
  f.always_on_top = p.always_on_top;
  f.clipped_channels = p.bridge->clips().clipped_channels;
  for (int i = 0; i < 2; ++i) {
    f.module_present[i] =
        p.actions->card_module_present(i) && p.actions->console_state(i, f.console_on[i]);
  }
  const std::string dir = p.install_dir();
  f.settings_known = !dir.empty();
  f.diag_on = f.settings_known && diag_enabled(console_cfg_path(dir, p.link.active_console()));
  HMENU menu = CreatePopupMenu();
  for (const MenuItem& item : tray_menu(f)) {
    if (item.id == 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    const std::u16string text = from_utf8(item.text);
    UINT flags = MF_STRING | (item.checked ? MF_CHECKED : 0) | (item.disabled ? MF_GRAYED : 0);
    AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.id),
                reinterpret_cast<const wchar_t*>(text.c_str()));
  }
  POINT pt{};
  GetCursorPos(&pt);
  SetForegroundWindow(g_tray);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, pt.x, pt.y, 0, g_tray, nullptr);
  PostMessageW(g_tray, WM_NULL, 0, 0);  // lets the menu close when the user clicks elsewhere
  DestroyMenu(menu);
}

LRESULT CALLBACK tray_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_TIMER || wp != TIMER_FRAME) note_dashboard_activity();
  if (msg == g_show_message && g_show_message) {
    open_dashboard();
    if (HWND d = dashboard_window()) {
      ShowWindow(d, SW_RESTORE);
      SetForegroundWindow(d);
    }
    return 0;
  }
  if (msg == WM_SETTINGCHANGE && lp &&
      lstrcmpiW(reinterpret_cast<const wchar_t*>(lp), L"ImmersiveColorSet") == 0) {
    rebuild_icons();
    return 0;
  }
  if (msg == g_taskbar_created && g_taskbar_created) {
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    const BOOL ok = Shell_NotifyIconW(NIM_ADD, &g_nid);
    tray_log("TaskbarCreated -> re-added icon, ok=%d", ok ? 1 : 0);
    return 0;
  }
  switch (msg) {
    case WM_TRAYICON:
      if (LOWORD(lp) == WM_RBUTTONUP)
        show_tray_menu();
      else if (LOWORD(lp) == WM_LBUTTONDBLCLK)
        show_dashboard_window();
      return 0;
    case WM_DESTROY:
      Shell_NotifyIconW(NIM_DELETE, &g_nid);
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND: tray_command(LOWORD(wp)); return 0;
    case WM_TIMER:
      if (wp == TIMER_FRAME) {
        g_p->bridge->frame_tick();
        HWND d = dashboard_window();
        if (d && IsWindowVisible(d)) InvalidateRect(d, nullptr, FALSE);
      } else {
        run_poll_tick(g_p->ui, g_p->shown, *g_poll);
      }
      return 0;
    case WM_HOTKEY:
      if (wp == HOTKEY_DASHBOARD) show_dashboard_window();
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// False when this process must exit: a copy runs and was asked to show its dashboard.
bool become_the_instance(HANDLE& mutex) {
  mutex = CreateMutexW(nullptr, TRUE, kMutexName);
  if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return true;
  HWND other = FindWindowW(kTrayClass, nullptr);
  if (!other) return false;
  DWORD pid = 0;
  GetWindowThreadProcessId(other, &pid);
  bool differ = false;
  if (HANDLE proc = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    wchar_t theirs[1024] = {}, ours[260] = {};
    DWORD n = 1024;
    if (QueryFullProcessImageNameW(proc, 0, theirs, &n) && GetModuleFileNameW(nullptr, ours, 260))
      differ = lstrcmpiW(theirs, ours) != 0;
    CloseHandle(proc);
  }
  if (differ) {
    tray_log("another copy is running from a different folder - closing it and taking over");
    PostMessageW(other, WM_CLOSE, 0, 0);
    const DWORD w = WaitForSingleObject(mutex, 5000);
    if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) return true;
  }
  PostMessageW(other, g_show_message, 0, 0);
  return false;
}

}  // namespace

int run_tray_program(const ModeArgs& args) {
  g_show_message = RegisterWindowMessageW(L"KestruneShowDashboard");
  HANDLE mutex = nullptr;
  if (!become_the_instance(mutex)) return 0;

  int rc = 0;
  {
    GdiplusSession gdiplus;
    TrayProgram program;
    g_p = &program;

    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = tray_window_proc;
    wc.hInstance = inst;
    wc.lpszClassName = kTrayClass;
    RegisterClassExW(&wc);
    g_tray = CreateWindowExW(WS_EX_TOOLWINDOW, kTrayClass, L"Kestrune", WS_POPUP, 0, 0, 0, 0,
                             nullptr, nullptr, inst, nullptr);
    bind_discovery(program);
    bind_updater(program, g_tray);
    bind_diagnostics(program, g_tray);

    DashboardHost host;
    host.ui = &program.ui;
    host.actions = program.actions.get();
    host.bridge_clicks = program.bridge.get();
    host.bridge_painters = program.bridge.get();
    host.page_model = [&program](JsonValue& out) { return program.page_model(out); };
    host.lv1_running = [&program] { return lv1_running(*program.lv1); };
    host.window_icon = dashboard_icon;
    host.always_on_top = &program.always_on_top;
    bind_dashboard(host);
    g_poll = make_poll_steps(program, show_state_icon, refresh_tooltip, invalidate_dashboard);

    // The icon, in the state of this moment.
    program.shown = program.link.tray_state();
    g_nid.cbSize = sizeof g_nid;
    g_nid.hWnd = g_tray;
    g_nid.uID = 1;
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_nid.uCallbackMessage = WM_TRAYICON;
    g_nid.hIcon = state_icon(program.shown);
    copy_tip(u"Kestrune");
    g_taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    BOOL added = Shell_NotifyIconW(NIM_ADD, &g_nid);
    tray_log("startup: hwnd=%p icon=%p state=%d  NIM_ADD=%d err=%lu", static_cast<void*>(g_tray),
             static_cast<void*>(g_nid.hIcon), static_cast<int>(program.shown), added ? 1 : 0,
             added ? 0ul : static_cast<unsigned long>(GetLastError()));
    if (!added) {
      Sleep(1500);
      added = Shell_NotifyIconW(NIM_ADD, &g_nid);
      tray_log("retry: NIM_ADD=%d err=%lu", added ? 1 : 0,
               added ? 0ul : static_cast<unsigned long>(GetLastError()));
    }

    program.paths.locate_install();
    if (program.paths.state().installed && !program.paths.loader_needs_update() &&
        program.paths.modules_missing()) {
      std::string message;
      tray_log(program.installer.live_module_update(message) ? "console modules updated live"
                                                             : "live module update failed");
    }
    if (program.services.update_tick) program.services.update_tick();
    if (!bridge_running()) {
      program.ui.setup_open = true;
      program.actions->discover_consoles();
    }
    if (!find_option(args.args, "--tray")) open_and_front();

    if (!RegisterHotKey(g_tray, HOTKEY_DASHBOARD, MOD_CONTROL | MOD_SHIFT | MOD_NOREPEAT, 'D'))
      tray_log("Ctrl+Shift+D unavailable (taken by another app) - use the tray menu");
    SetTimer(g_tray, TIMER_POLL, 1000, nullptr);
    SetTimer(g_tray, TIMER_FRAME, 50, nullptr);

    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }

    UnregisterHotKey(g_tray, HOTKEY_DASHBOARD);
    KillTimer(g_tray, TIMER_POLL);
    KillTimer(g_tray, TIMER_FRAME);
    if (g_tray && IsWindow(g_tray)) {
      Shell_NotifyIconW(NIM_DELETE, &g_nid);
      DestroyWindow(g_tray);
    }
    if (HWND d = dashboard_window()) DestroyWindow(d);
    destroy_icons();
    program.link.detach_all();
    release_dashboard_resources();  // every GDI+ object goes before GDI+ does
    g_poll.reset();
    g_p = nullptr;
  }
  WSACleanup();
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return rc;
}

}  // namespace ks::tray
