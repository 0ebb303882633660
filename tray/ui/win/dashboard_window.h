// The dashboard: one resizable top-level window of class KestruneDash whose whole client area the
// frame painter draws in design units, scaled by the window's DPI. Clicks go through the shell's
// dispatch; the console-address dialog adds a native edit box to it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "tray/services/json.h"
#include "tray/ui/canvas.h"
#include "tray/ui/kit.h"
#include "tray/ui/shell/shell_actions.h"

namespace ks::tray {

inline constexpr UINT WM_FIT_CONTENT = WM_APP + 3;
inline constexpr UINT WM_PLACE_ADDRESS_EDIT = WM_APP + 4;
inline constexpr UINT WM_ADDRESS_EDIT_KEY = WM_APP + 5;

// Where the bridge pages' painters plug into the frame: the main page while the setup page is
// closed (the status page, with the details panel or the channel page over it), and the modal
// pages they own (reroute page, remove page). Without them the setup page is the only page.
class BridgePagePainters {
public:
  virtual ~BridgePagePainters() = default;
  // Drawn under the scroll translation; returns the content height.
  virtual float paint_page(Canvas&, PaintContext&, DashboardUiState&, float /*W*/, float /*H*/) {
    return 0;
  }
  // Returns the window height the modal page needs (0: any): the window grows to it.
  virtual float paint_modal(Canvas&, PaintContext&, DashboardUiState&, float /*W*/, float /*H*/) {
    return 0;
  }
  // True when nothing lies over the main page's meters: paint_page then leaves them to
  // draw_meters, which the frame calls last, under the same scroll translation.
  virtual bool meters_apart(const DashboardUiState&) { return false; }
  virtual void draw_meters(Canvas&) {}
  // Equal words: the main page would be drawn as last time but for its meters.
  virtual uint64_t page_key() { return 0; }
};

// What the window works with; bound once before it is first opened.
struct DashboardHost {
  DashboardUiState* ui = nullptr;
  ShellActions* actions = nullptr;
  BridgePageClicks* bridge_clicks = nullptr;
  BridgePagePainters* bridge_painters = nullptr;
  std::function<bool(JsonValue&)> page_model;  // gathered now, with the action message
  std::function<bool()> lv1_running;
  std::function<HICON()> window_icon;  // the 32-pixel linked icon
  const bool* always_on_top = nullptr;
};

void bind_dashboard(const DashboardHost& host);

// Something may have changed what the dashboard shows: the next frame is drawn whole. The tray
// window calls it for every message but the frame timer; the dashboard's own messages count too.
void note_dashboard_activity();

HWND dashboard_window();
// Creates the window (or restores an existing one) and brings it to the foreground.
void open_dashboard();
// Scroll to the top, size to the content, keep the centre, stay inside the work area.
void place_dashboard_window();
void apply_dashboard_z_order();
void set_dashboard_icon(HICON icon);

// The address dialog's edit box.
void create_address_edit(int console, const std::u16string& text);
void destroy_address_edit();
std::u16string address_edit_text();

// The "set" text of the "addr" object of a console's card (in "cards", then "nothingAddr").
std::u16string address_text_of(const JsonValue& model, int console);

// The DPI of a window: GetDpiForWindow, else the screen's logical pixels, else 96.
int window_dpi(HWND hwnd);

// Frees the back buffer and the brush; called before GDI+ shuts down.
void release_dashboard_resources();

}  // namespace ks::tray
