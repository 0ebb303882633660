// The bridge pages in the live dashboard: the status page with the details panel or the channel
// page over it, the reroute and remove pages, painted from the shown console's status block, and
// their clicks posted into that block's ring through the status link. The frame timer latches
// clips and scans the signal for them.
#pragma once

#include <cstdint>

#include "tray/ui/bridge_link.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/bridge_state.h"
#include "tray/ui/shell/shell_actions.h"
#include "tray/ui/win/dashboard_window.h"

namespace ks::tray {

struct TrayProgram;

class BridgePages final : public BridgePagePainters, public BridgePageClicks {
public:
  explicit BridgePages(TrayProgram& p);

  // What the pages show beside the block, as of this moment.
  BridgeView view();

  float paint_page(Canvas& g, PaintContext& pc, DashboardUiState& ui, float W, float H) override;
  float paint_modal(Canvas& g, PaintContext& pc, DashboardUiState& ui, float W, float H) override;
  bool meters_apart(const DashboardUiState& ui) override;
  void draw_meters(Canvas& g) override;
  uint64_t page_key() override;
  void reroute_click(DashboardUiState& ui, int32_t id, float x, float y) override;
  void page_command(DashboardUiState& ui, int32_t id) override;

  // The frame timer's tick (50 ms): clips latched, and the signal scanned every 500 ms.
  void frame_tick();

  // The clip history the pages and the tray menu show.
  ClipHistory& clips() { return bs_.clips; }
  const BridgeState& state() const { return bs_; }

private:
  TrayProgram& p_;
  StatusLinkBridge link_;
  BridgeState bs_;
};

}  // namespace ks::tray
