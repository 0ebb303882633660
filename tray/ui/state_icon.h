// The tray's state icon, drawn in code at any pixel size: an open ring with a dot, a needle for
// a live link, a square in the ring's opening for attention and a transparent strike for an
// unreachable desk. The notification area, the dashboard's window icon and the setup page's
// header all draw it through this one painter.
#pragma once
#include <cstdint>

#include "tray/ui/canvas.h"

namespace ks::tray {

enum TrayIconState : int32_t {
  kIconIdle = 0,
  kIconLinked = 1,
  kIconAttention = 2,
  kIconUnreachable = 3,
};

// Lengths in pixels for one icon size: the size table's row for its band, scaled by
// px / row size when px is not a row of its own.
struct StateIconMetrics {
  int row_px = 16;
  float ring_radius = 0, ring_stroke = 0, dot_radius = 0, needle = 0, strike_gap = 0;
};
StateIconMetrics state_icon_metrics(int px);

// The state's colour for a light or a dark taskbar (states out of range read as idle).
Argb state_icon_colour(int32_t state, bool light_taskbar);

// Paints the icon of `state` into a px x px canvas whose origin is the icon's top left;
// `colour` replaces the state's colour when not null.
void paint_state_icon(Canvas& g, int px, int32_t state, bool light_taskbar, const Argb* colour);

}  // namespace ks::tray
