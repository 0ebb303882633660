#include "tray/app/win/bridge_bindings.h"

#include <windows.h>

#include <algorithm>

#include "tray/app/win/live_bindings.h"
#include "tray/services/text_utils.h"
#include "tray/ui/lookups.h"
#include "tray/ui/meters.h"
#include "tray/ui/page_key.h"

namespace ks::tray {

BridgePages::BridgePages(TrayProgram& p) : p_(p), link_(p.link) {}

BridgeView BridgePages::view() {
  BridgeView v;
  v.block = link_.block();
  v.lv1_running = p_.sources->lv1_running();
  v.lv1_uptime_ms = p_.sources->lv1_uptime_ms();
  v.lv1_version = from_utf8(p_.sources->lv1_version());
  v.problems = static_cast<int>(p_.faults.count);
  v.too_old = v.block && p_.link.module_too_old();
  v.both_alive = StatusLink::alive(p_.link.view(0)) && StatusLink::alive(p_.link.view(1));
  // Read from files at most every few seconds (the install paths pace it).
  v.install_pending = p_.paths.state().installed && p_.paths.update_pending();
  v.active_console = p_.link.active_console();
  return v;
}

float BridgePages::paint_page(Canvas& g, PaintContext& pc, DashboardUiState& ui, float W, float H) {
  const BridgeView v = view();
  // The status link may have turned to the other console's block since the last frame.
  ui.active_console = v.active_console;
  const float content = paint_status_page(g, pc, v, ui, bs_, W);
  // The meters belong to the status page: drawn before anything that lies over it, or, with
  // nothing over them, last of the frame (draw_meters).
  if (ui.modal != kModalNone || !meters_apart(ui))
    draw_meter_overlay(g, bs_.meters, v.block, bs_.clips, watched_channels(v.block));
  if (ui.details_open) {
    paint_details_panel(g, v, bs_);
    return content;
  }
  if (ui.selected_channel < 0) return content;
  // A card taller than the window makes the page as tall as the card: the window grows to it,
  // or where it cannot, the page scrolls to it.
  const float area = std::max(H, ui.content_height);
  return std::max(content, paint_channel_detail(g, pc, v, ui, bs_, link_, W, area));
}

float BridgePages::paint_modal(Canvas& g, PaintContext& pc, DashboardUiState& ui, float W,
                               float H) {
  if (ui.modal == kModalReroute) {
    paint_reroute_page(g, pc, view(), ui, bs_, link_, W, H);
    // The panel with its margins; it grows as notes appear for a picked input.
    return ui.modal == kModalReroute ? ui.reroute_panel[3] + 32 : 0;
  }
  if (ui.modal >= kModalRemove && ui.modal < kModalConfirmOff)
    paint_remove_page(g, pc, p_.sources->lv1_running(), W, H);
  return 0;
}

bool BridgePages::meters_apart(const DashboardUiState& ui) {
  return !ui.details_open && ui.selected_channel < 0;
}

void BridgePages::draw_meters(Canvas& g) {
  const StatusBlock* b = link_.block();
  draw_meter_overlay(g, bs_.meters, b, bs_.clips, watched_channels(b));
}

uint64_t BridgePages::page_key() { return status_page_key(view(), bs_); }

void BridgePages::reroute_click(DashboardUiState& ui, int32_t id, float x, float y) {
  const float* r = ui.reroute_panel;
  const bool inside = x >= r[0] && x <= r[0] + r[2] && y >= r[1] && y <= r[1] + r[3];
  dispatch_bridge_click(id, inside, ui, bs_, link_);
}

void BridgePages::page_command(DashboardUiState& ui, int32_t id) {
  dispatch_bridge_click(id, false, ui, bs_, link_);
}

void BridgePages::frame_tick() {
  const StatusBlock* b = link_.block();
  track_clips(bs_.clips, b);
  scan_signal(bs_.signal, b, watched_channels(b), GetTickCount64());
}

}  // namespace ks::tray
