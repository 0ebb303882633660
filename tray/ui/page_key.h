// One word for everything the status page shows but its meters. While it stays the same, and
// nothing but the frame timer has happened, a frame is the last page with new meters over it:
// the levels move twenty times a second, the page itself seldom.
#pragma once

#include <cstdint>

#include "tray/ui/bridge_pages.h"
#include "tray/ui/bridge_state.h"

namespace ks::tray {

// Folds in the block's published values (not its levels, peaks and clip flags, nor the counters
// and ages that move on every publish: those reach the page at the next full frame, at the
// latest with the poll tick's repaint), what the view adds, the clip history and the signal
// scan. Equal words for pages that would be drawn alike.
uint64_t status_page_key(const BridgeView& v, const BridgeState& bs);

}  // namespace ks::tray
