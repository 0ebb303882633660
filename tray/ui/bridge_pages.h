// The bridge pages' painters: the status page with its channel grid, the channel page with its
// link popover, the reroute page, the details panel and the remove page. They draw through the
// kit on any Canvas, append their hit regions to the frame's PaintContext and their meters to
// BridgeState::meters.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tray/ui/bridge_dispatch.h"
#include "tray/ui/bridge_state.h"
#include "tray/ui/kit.h"

namespace ks::tray {

// What the pages read beside the block.
struct BridgeView {
  const StatusBlock* block = nullptr;  // the usable block of the shown console, or null
  bool lv1_running = false;
  int32_t lv1_uptime_ms = -1;
  std::u16string lv1_version;    // empty: unknown
  int problems = 0;              // problems counted in the module's log
  bool too_old = false;          // the module's layout is older than this program's
  bool both_alive = false;       // both consoles' blocks are alive
  bool install_pending = false;  // the installed loader needs an update or modules are missing
  int active_console = 0;
};

// LV1 has been running for less than 20 s: the page says it is starting.
inline bool lv1_starting(const BridgeView& v) {
  return v.lv1_running && v.lv1_uptime_ms >= 0 && v.lv1_uptime_ms <= 19999;
}

inline constexpr uint32_t kAppLayoutVersion = 17;

// The state pill: its text and colour.
struct PillState {
  const char16_t* text;
  Argb colour;
  bool linked;
};
PillState status_pill(const BridgeView& v);

// Returns the content height.
float paint_status_page(Canvas& g, PaintContext& pc, const BridgeView& v,
                        const DashboardUiState& ui, BridgeState& bs, float W);

// Takes the pending action's outcome first, then draws the channel page (or its link popover).
// Returns the height the card needs, margins included (0 when nothing is drawn): an area that
// tall always has room for it.
float paint_channel_detail(Canvas& g, PaintContext& pc, const BridgeView& v, DashboardUiState& ui,
                           BridgeState& bs, BridgeLink& link, float W, float H);

// The reroute grid's columns for the page's inner width.
int reroute_columns(float inner_width);
void paint_reroute_page(Canvas& g, PaintContext& pc, const BridgeView& v, DashboardUiState& ui,
                        BridgeState& bs, BridgeLink& link, float W, float H);

struct DetailsRow {
  std::u16string label, value;
  Argb dot = 0xFF2A333C;
  bool dot_shown = true;
};
std::vector<DetailsRow> details_rows(const BridgeView& v);
float details_panel_height(size_t rows);
void paint_details_panel(Canvas& g, const BridgeView& v, const BridgeState& bs);

// The remove page's card height for the body it shows.
float remove_card_height(Canvas& g, bool lv1_running);
void paint_remove_page(Canvas& g, PaintContext& pc, bool lv1_running, float W, float H);

}  // namespace ks::tray
