// The preview's dashboard pages: the demo status block, the page name's channel, popover or
// modal page, and one frame painted the way the live dashboard layers them.
#pragma once
#include <memory>
#include <string_view>

#include "tray/ui/bridge_pages.h"

namespace ks::tray {

struct DashboardPreview {
  std::unique_ptr<StatusBlock> block;  // null for "empty"
  DashboardUiState ui;
  BridgeState bs;
  BridgeView view;
};

// The names of the preview's dashboard pages.
bool is_dashboard_page(std::string_view name);
// Sets up the named page; false for a name that is no dashboard page.
bool prepare_dashboard_preview(std::string_view name, DashboardPreview& p);

// One frame: the status page, the details panel or the channel page, then the modal page (which
// replaces every region before it), then the meters. Returns the content height.
float paint_dashboard_preview(Canvas& g, PaintContext& pc, DashboardPreview& p, float W, float H);

}  // namespace ks::tray
