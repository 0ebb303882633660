#include "tray/ui/win/dashboard_window.h"

#include <algorithm>
using std::max;
using std::min;
#include <commctrl.h>
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>
#include <windowsx.h>

#include <cstring>
#include <vector>

#include "tray/services/text_utils.h"
#include "tray/ui/dialogs.h"
#include "tray/ui/setup_page.h"
#include "tray/ui/shell/setup_actions.h"
#include "tray/ui/shell/window_metrics.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

using namespace Gdiplus;

namespace {

constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;
constexpr wchar_t kClass[] = L"KestruneDash";

DashboardHost g_host;
HWND g_dash = nullptr;
HWND g_edit = nullptr;
HFONT g_edit_font = nullptr;
WNDPROC g_edit_proc = nullptr;
HBRUSH g_edit_brush = nullptr;
std::vector<HitRegion> g_hit_regions;
AddressEditPlace g_last_posted;  // forgotten whenever a new edit box is made
AddressEditPlace g_edit_place;

// The frame's off-screen surface: a top-down 32-bit DIB with a GDI+ bitmap over its bits.
struct BackBuffer {
  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  Bitmap* image = nullptr;
  int w = 0, h = 0;

  void release() {
    delete image;
    image = nullptr;
    if (dc) {
      SelectObject(dc, old);
      DeleteDC(dc);
    }
    if (dib) DeleteObject(dib);
    dc = nullptr;
    dib = nullptr;
    bits = nullptr;
    w = h = 0;
  }
  bool ensure(HDC like, int width, int height) {
    if (image && w == width && h == height) return true;
    release();
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    dib = CreateDIBSection(like, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    dc = dib ? CreateCompatibleDC(like) : nullptr;
    if (!dib || !dc || !bits) {
      release();
      return false;
    }
    old = SelectObject(dc, dib);
    image = new Bitmap(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    if (image->GetLastStatus() != Ok) {  // no surface without its image
      release();
      return false;
    }
    w = width;
    h = height;
    return true;
  }
};
BackBuffer g_buffer;

// The last whole frame of the main page without its meters. While nothing but the frame timer
// has happened and the page's key is the same, a frame is this copy with new meters over it.
struct MeterBase {
  std::vector<uint32_t> pixels;
  bool valid = false;
  uint64_t key = 0;
};
MeterBase g_meter_base;
bool g_activity = true;

uint64_t frame_key(uint64_t page, int w, int h, int dpi, const DashboardUiState& ui) {
  uint64_t k = page;
  auto mix = [&k](uint64_t v) { k = (k ^ v) * 0x100000001b3ull; };
  uint32_t scroll, content;
  std::memcpy(&scroll, &ui.scroll_offset, sizeof scroll);
  std::memcpy(&content, &ui.content_height, sizeof content);
  for (uint64_t v : {uint64_t(w), uint64_t(h), uint64_t(dpi), uint64_t(scroll), uint64_t(content),
                     uint64_t(uint32_t(ui.hover_id)), uint64_t(uint32_t(ui.view_filter))})
    mix(v);
  return k;
}

void begin_drawing(Graphics& g, float scale) {
  g.SetSmoothingMode(SmoothingModeAntiAlias);
  g.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
  g.ScaleTransform(scale, scale);
}

int work_area_of(HMONITOR mon, PxRect& out) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!mon || !GetMonitorInfoW(mon, &mi)) return 0;
  out = {mi.rcWork.left, mi.rcWork.top, mi.rcWork.right, mi.rcWork.bottom};
  return 1;
}

PxRect cursor_monitor_work_area() {
  POINT pt{};
  GetCursorPos(&pt);
  PxRect r;
  if (!work_area_of(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), r))
    r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return r;
}

PxSize frame_of(int dpi) {
  RECT r{0, 0, 100, 100};
  using ForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static auto for_dpi = reinterpret_cast<ForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (!(for_dpi && for_dpi(&r, kStyle, FALSE, kExStyle, static_cast<UINT>(dpi))))
    AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  return {r.right - r.left - 100, r.bottom - r.top - 100};
}

// The window size the content asks for, never taller than the work area.
PxSize dashboard_size(HWND hwnd) {
  const int dpi = window_dpi(hwnd ? hwnd : GetDesktopWindow());
  const PxSize client =
      dashboard_client_size(g_host.ui->design_width, g_host.ui->content_height, dpi);
  const PxSize frame = frame_of(dpi);
  PxRect work;
  if (!hwnd || !work_area_of(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), work))
    work = cursor_monitor_work_area();
  return {client.w + frame.w, std::min(client.h + frame.h, work.height())};
}

PxRect window_rect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.left, r.top, r.right, r.bottom};
}

void move_to(HWND hwnd, const PxRect& r) {
  SetWindowPos(hwnd, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

// Looked up at run time: a system without the desktop window manager keeps the plain frame.
void set_dark_frame(HWND hwnd) {
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  static HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  static auto set = dwm ? reinterpret_cast<SetAttribute>(
                              reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")))
                        : nullptr;
  if (!set) return;
  const BOOL dark = TRUE;
  set(hwnd, 19, &dark, sizeof dark);
  set(hwnd, 20, &dark, sizeof dark);
  const COLORREF caption = 0x2A221B, border = 0x362D24, text = 0xF2EEE8;
  set(hwnd, 35, &caption, sizeof caption);
  set(hwnd, 34, &border, sizeof border);
  set(hwnd, 36, &text, sizeof text);
}

const JsonValue* card_for(const JsonValue& model, int console) {
  for (const char* list : {"cards", "nothingAddr"}) {
    const JsonValue* cards = json_find(model, list);
    if (!cards) continue;
    const std::vector<JsonValue>* items = cards->kind == JsonKind::array ? &cards->items : nullptr;
    if (!items) continue;
    for (const JsonValue& c : *items) {
      const JsonValue* n = json_find(c, "c");
      if (n && n->kind == JsonKind::number && n->number == console) return &c;
    }
  }
  return nullptr;
}

void paint_dashboard(HWND hwnd, HDC hdc, const RECT& client) {
  DashboardUiState& ui = *g_host.ui;
  const int dpi = window_dpi(hwnd);
  const float scale = static_cast<float>(dpi) / 96.0f;
  const int w = client.right - client.left, h = client.bottom - client.top;
  if (w <= 0 || h <= 0 || !g_buffer.ensure(hdc, w, h)) return;

  // The page model is gathered only for the pages drawn from it: the setup page and its dialogs.
  const bool bridge_main = !ui.setup_open && g_host.bridge_painters;
  JsonValue model;
  const bool have_model = (!bridge_main || ui.modal >= kModalConfirmOff) && g_host.page_model &&
                          g_host.page_model(model);
  const bool meters_apart =
      bridge_main && ui.modal == kModalNone && g_host.bridge_painters->meters_apart(ui);
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);

  // Taken before anything is drawn: a value published while the page is painted then differs
  // from the key the copy is kept under, and the next frame is drawn whole.
  const uint64_t key =
      meters_apart ? frame_key(g_host.bridge_painters->page_key(), w, h, dpi, ui) : 0;

  // Only the levels moved: the last page, and the meters drawn afresh over it.
  if (meters_apart && !g_activity && g_meter_base.valid && g_meter_base.pixels.size() == pixels &&
      g_meter_base.key == key) {
    std::memcpy(g_buffer.bits, g_meter_base.pixels.data(), pixels * 4);
    {
      Graphics g(g_buffer.image);
      begin_drawing(g, scale);
      g.TranslateTransform(0, -ui.scroll_offset);
      GdiplusCanvas canvas(g);
      g_host.bridge_painters->draw_meters(canvas);
      g.Flush(FlushIntentionSync);
    }
    BitBlt(hdc, 0, 0, w, h, g_buffer.dc, 0, 0, SRCCOPY);
    return;
  }
  g_activity = false;
  g_meter_base.valid = false;

  const float before = ui.content_height;
  {
    Graphics g(g_buffer.image);
    g.Clear(Color(pal::background));
    begin_drawing(g, scale);
    const float W = static_cast<float>(w) / scale, H = static_cast<float>(h) / scale;
    GdiplusCanvas canvas(g);
    PaintContext pc;
    pc.hover_id = ui.hover_id;
    ui.regions_scrolled = true;

    const float content = ui.content_height > 0 ? ui.content_height : H;
    const float overflow = std::max(content - H, 0.0f);
    ui.scroll_offset = std::clamp(ui.scroll_offset, 0.0f, overflow);
    g.TranslateTransform(0, -ui.scroll_offset);

    if (bridge_main) {
      ui.content_height = g_host.bridge_painters->paint_page(canvas, pc, ui, W, H);
    } else if (have_model) {
      SetupPageInputs in;
      in.action_message = from_utf8(ui.action_message.text);
      in.panel_open = {ui.setup_panel_open[0], ui.setup_panel_open[1]};
      const SetupPageResult res = paint_setup_page(canvas, pc, model, in, W);
      ui.content_height = res.content_height;
      for (int c = 0; c < 2; ++c)
        for (int s = 0; s < 8; ++s) ui.candidate_ids[c][s] = res.candidate_ids[c][s];
    }

    g.ResetTransform();
    g.ScaleTransform(scale, scale);
    if (overflow > 0) {
      const float L = H * H / content;
      fill_round_rect(canvas, 0x6E5C6E7E, W - 6, (H - L) * (ui.scroll_offset / overflow) + 2, 3,
                      L - 4, 1.5f);
    }

    if (ui.modal != kModalNone) {
      pc.regions.clear();
      ui.regions_scrolled = false;
      if (ui.modal >= kModalConfirmOff && have_model) {
        if (ui.modal == kModalAddress) {
          AddressInputs ai;
          ai.console = std::max(ui.address_console, 0);
          ai.message = from_utf8(ui.address_message);
          ai.edit_exists = g_edit != nullptr;
          ai.last_posted = &g_last_posted;
          const AddressLayout lay = paint_address_dialog(canvas, pc, model, ai, W, H);
          g_edit_place = lay.edit;
          if (lay.place_changed && g_edit) PostMessageW(hwnd, WM_PLACE_ADDRESS_EDIT, 0, 0);
        } else {
          const bool lv1 = g_host.lv1_running && g_host.lv1_running();
          paint_confirm_dialog(canvas, pc, model, {ui.modal, ui.pending_console, lv1}, W, H);
        }
      } else if (g_host.bridge_painters) {
        ui.content_height =
            std::max(ui.content_height, g_host.bridge_painters->paint_modal(canvas, pc, ui, W, H));
      }
    }
    g_hit_regions = std::move(pc.regions);

    if (ui.content_height > before + 1 || ui.fit_shrink)
      PostMessageW(hwnd, WM_FIT_CONTENT, ui.fit_shrink ? 1 : 0, 0);
    ui.fit_shrink = false;

    if (meters_apart) {
      g.Flush(FlushIntentionSync);
      g_meter_base.pixels.resize(pixels);
      std::memcpy(g_meter_base.pixels.data(), g_buffer.bits, pixels * 4);
      g_meter_base.key = key;
      g_meter_base.valid = true;
      g.ResetTransform();
      g.ScaleTransform(scale, scale);
      g.TranslateTransform(0, -ui.scroll_offset);
      g_host.bridge_painters->draw_meters(canvas);
    }
    g.Flush(FlushIntentionSync);
  }
  BitBlt(hdc, 0, 0, w, h, g_buffer.dc, 0, 0, SRCCOPY);
}

LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if ((msg == WM_KEYDOWN && (wp == VK_RETURN || wp == VK_ESCAPE))) {
    PostMessageW(GetParent(hwnd), WM_ADDRESS_EDIT_KEY, wp == VK_RETURN ? 13 : 27, 0);
    return 0;
  }
  if (msg == WM_CHAR && (wp == '\r' || wp == 27 || wp == '\n')) return 0;
  return CallWindowProcW(g_edit_proc, hwnd, msg, wp, lp);
}

int32_t hit_at(HWND hwnd, LPARAM lp) {
  const DashboardUiState& ui = *g_host.ui;
  const DesignPoint p = design_point(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), window_dpi(hwnd),
                                     ui.scroll_offset, ui.regions_scrolled);
  return hit_test(g_hit_regions, p.x, p.y);
}

LRESULT CALLBACK dashboard_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DashboardUiState& ui = *g_host.ui;
  // A paint, or the system asking where the pointer is, changes nothing the frame shows.
  if (msg != WM_PAINT && msg != WM_NCHITTEST && msg != WM_SETCURSOR) g_activity = true;
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      paint_dashboard(hwnd, hdc, rc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT) return 1;
      break;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED && LOWORD(lp) > 0)
        ui.design_width =
            static_cast<float>(LOWORD(lp)) * 96.0f / static_cast<float>(window_dpi(hwnd));
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
      if (!g_host.ui) break;
      const int dpi = window_dpi(hwnd);
      PxRect work;
      const bool have_work = work_area_of(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), work);
      const TrackLimits t =
          track_limits(dpi, frame_of(dpi), dashboard_size(hwnd), have_work ? &work : nullptr);
      mm->ptMinTrackSize = {t.min.w, t.min.h};
      mm->ptMaxTrackSize = {t.max.w, t.max.h};
      return 0;
    }
    case WM_DPICHANGED: {
      const RECT* r = reinterpret_cast<const RECT*>(lp);
      g_last_posted = {};  // the edit box must be placed again at the new scale
      SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_CLOSE: ShowWindow(hwnd, SW_HIDE); return 0;
    case WM_DESTROY:
      g_dash = nullptr;
      g_edit = nullptr;
      return 0;
    case WM_MOUSEMOVE: {
      const int32_t id = hit_at(hwnd, lp);
      SetCursor(LoadCursorW(nullptr, id ? IDC_HAND : IDC_ARROW));
      if (id != ui.hover_id) {
        ui.hover_id = id;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&tme);
      return 0;
    }
    case WM_MOUSELEAVE:
      if (ui.hover_id != 0) {
        ui.hover_id = 0;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSEWHEEL:
      ui.scroll_offset = wheel_scroll(ui.scroll_offset, GET_WHEEL_DELTA_WPARAM(wp));
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN: {
      const DesignPoint p = design_point(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), window_dpi(hwnd),
                                         ui.scroll_offset, ui.regions_scrolled);
      BridgePageClicks none;
      if (dispatch_click(ui, hit_test(g_hit_regions, p.x, p.y), p.x, p.y, *g_host.actions,
                         g_host.bridge_clicks ? *g_host.bridge_clicks : none))
        InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_FIT_CONTENT: {
      const PxSize want = dashboard_size(hwnd);
      const PxRect now = window_rect(hwnd);
      switch (fit_action(now.height(), want.h, wp == 1)) {
        case FitAction::shrink:
          SetWindowPos(hwnd, nullptr, 0, 0, now.width(), want.h,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
          break;
        case FitAction::grow:
          move_to(hwnd, pull_inside({now.left, now.top, now.right, now.top + want.h},
                                    cursor_monitor_work_area()));
          break;
        case FitAction::keep: InvalidateRect(hwnd, nullptr, FALSE); break;
      }
      return 0;
    }
    case WM_PLACE_ADDRESS_EDIT:
      if (g_edit && g_edit_place.valid) {
        const float k = static_cast<float>(window_dpi(hwnd)) / 96.0f;
        MoveWindow(g_edit, static_cast<int>(g_edit_place.x * k),
                   static_cast<int>(g_edit_place.y * k), static_cast<int>(g_edit_place.w * k),
                   static_cast<int>(g_edit_place.h * k), TRUE);
        SendMessageW(g_edit, EM_SETSEL, 0, 0);
        SendMessageW(g_edit, EM_SCROLLCARET, 0, 0);
        SendMessageW(g_edit, EM_SETSEL, 0, -1);
      }
      return 0;
    case WM_ADDRESS_EDIT_KEY:
      confirm_modal(ui, wp == 13 ? kCmdConfirm : kCmdCancel, *g_host.actions);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_CTLCOLOREDIT:
      if (reinterpret_cast<HWND>(lp) == g_edit) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, 0xF2EEE8);
        SetBkColor(dc, 0x1E1812);
        if (!g_edit_brush) g_edit_brush = CreateSolidBrush(0x1E1812);
        return reinterpret_cast<LRESULT>(g_edit_brush);
      }
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void bind_dashboard(const DashboardHost& host) { g_host = host; }

void note_dashboard_activity() { g_activity = true; }

std::u16string address_text_of(const JsonValue& model, int console) {
  const JsonValue* card = card_for(model, console);
  const JsonValue* addr = card ? json_find(*card, "addr") : nullptr;
  return json_wstring(addr, "set");
}

HWND dashboard_window() { return g_dash; }

int window_dpi(HWND hwnd) {
  using ForWindow = UINT(WINAPI*)(HWND);
  static auto for_window = reinterpret_cast<ForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (for_window && hwnd) {
    const UINT d = for_window(hwnd);
    if (d) return static_cast<int>(d);
  }
  HDC dc = GetDC(nullptr);
  if (!dc) return 96;
  const int d = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return d > 0 ? d : 96;
}

void apply_dashboard_z_order() {
  if (!g_dash) return;
  const bool top = g_host.always_on_top && *g_host.always_on_top;
  SetWindowPos(g_dash, top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void set_dashboard_icon(HICON icon) {
  if (g_dash && icon) SendMessageW(g_dash, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void open_dashboard() {
  if (g_dash) {
    ShowWindow(g_dash, IsIconic(g_dash) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(g_dash);
    return;
  }
  static bool registered = false;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = dashboard_window_proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClass;
    registered = RegisterClassExW(&wc) != 0;
  }
  const PxSize size = dashboard_size(nullptr);
  const PxRect r = centre_in(cursor_monitor_work_area(), size.w, size.h);
  g_dash = CreateWindowExW(kExStyle, kClass, L"Kestrune", kStyle, r.left, r.top, r.width(),
                           r.height(), nullptr, nullptr, inst, nullptr);
  if (!g_dash) return;
  set_dark_frame(g_dash);
  apply_dashboard_z_order();
  if (g_host.window_icon) set_dashboard_icon(g_host.window_icon());
  ShowWindow(g_dash, SW_SHOW);
}

void place_dashboard_window() {
  if (!g_dash) return;
  g_host.ui->scroll_offset = 0;
  const PxSize size = dashboard_size(g_dash);
  move_to(g_dash,
          resize_about_centre(window_rect(g_dash), size.w, size.h, cursor_monitor_work_area()));
  InvalidateRect(g_dash, nullptr, FALSE);
}

void create_address_edit(int, const std::u16string& text) {
  destroy_address_edit();
  if (!g_dash) return;
  SetWindowLongPtrW(g_dash, GWL_STYLE, GetWindowLongPtrW(g_dash, GWL_STYLE) | WS_CLIPCHILDREN);
  g_edit = CreateWindowExW(0, L"EDIT", reinterpret_cast<const wchar_t*>(text.c_str()),
                           WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 10, 10, g_dash, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (!g_edit) return;
  const int dpi = window_dpi(g_dash);
  g_edit_font = CreateFontW(-(13 * dpi / 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  SendMessageW(g_edit, WM_SETFONT, reinterpret_cast<WPARAM>(g_edit_font), TRUE);
  SendMessageW(g_edit, EM_SETLIMITTEXT, 40, 0);
  SendMessageW(g_edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"e.g. 192.168.1.20"));
  g_edit_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(g_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(edit_proc)));
  g_last_posted = {};  // a fresh box is always placed
  SendMessageW(g_edit, EM_SETSEL, 0, -1);
  SetFocus(g_edit);
  InvalidateRect(g_dash, nullptr, FALSE);
}

void destroy_address_edit() {
  if (g_edit) DestroyWindow(g_edit);
  if (g_edit_font) DeleteObject(g_edit_font);
  g_edit = nullptr;
  g_edit_font = nullptr;
}

std::u16string address_edit_text() {
  if (!g_edit) return {};
  wchar_t buf[64] = {};
  GetWindowTextW(g_edit, buf, 64);
  return std::u16string(reinterpret_cast<const char16_t*>(buf));
}

void release_dashboard_resources() {
  g_buffer.release();
  g_meter_base = {};
  if (g_edit_brush) DeleteObject(g_edit_brush);
  g_edit_brush = nullptr;
}

}  // namespace ks::tray
