// What the bridge pages keep between frames beside DashboardUiState: clip tracking, the signal
// scan, the geometry the status page records for the pages anchored to it, the reroute page's
// input cache and the inputs it drew.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shared/status_block.h"
#include "tray/ui/meters.h"

namespace ks::tray {

struct BridgeState {
  ClipHistory clips;
  SignalSummary signal;
  std::vector<MeterOverlay> meters;

  // Recorded by the status page while it draws the grid.
  int columns = 8;
  float cell_w = 0;
  float grid_top = 0;
  float details_button[4] = {0, 0, 0, 0};  // x, y, w, h
  unsigned hint_lines = 1;

  // The reroute page: the last list published for each group (upper-cased name), and the input
  // number drawn in each grid cell of the last frame, so a click picks what was shown.
  std::map<std::string, std::vector<ListedInput>> input_cache;
  std::vector<uint16_t> cell_inputs;
};

}  // namespace ks::tray
