#include "tray/ui/state_icon.h"

#include <algorithm>
#include <cmath>

namespace ks::tray {

namespace {

struct Row {
  int px;
  float ring_radius, ring_stroke, dot_radius, needle, strike_gap;
};
constexpr Row kRows[] = {
    {16, 6.5f, 2.0f, 2.5f, 2.5f, 2.0f},       {20, 7.75f, 2.5f, 3.0f, 2.75f, 2.5f},
    {24, 9.5f, 3.0f, 3.5f, 3.0f, 3.0f},       {32, 13.0f, 4.0f, 5.0f, 4.0f, 4.0f},
    {48, 19.0f, 5.0f, 7.5f, 5.0f, 5.5f},      {64, 25.0f, 6.5f, 9.5f, 6.5f, 7.0f},
    {128, 48.0f, 12.0f, 18.5f, 12.0f, 13.0f}, {256, 96.0f, 24.0f, 37.0f, 24.0f, 26.0f},
};

}  // namespace

StateIconMetrics state_icon_metrics(int px) {
  // A size takes the row of its band: the largest row not above it (16 for anything smaller).
  const Row* row = &kRows[0];
  for (const Row& r : kRows)
    if (px >= r.px) row = &r;
  const float k = px > 0 ? static_cast<float>(px) / static_cast<float>(row->px) : 1.0f;
  return {row->px,         row->ring_radius * k, row->ring_stroke * k, row->dot_radius * k,
          row->needle * k, row->strike_gap * k};
}

Argb state_icon_colour(int32_t state, bool light) {
  switch (state) {
    case kIconLinked: return light ? 0xFF008043 : 0xFF3FB86F;
    case kIconAttention: return light ? 0xFF9A6300 : 0xFFE09A35;
    case kIconUnreachable: return light ? 0xFFC73D4B : 0xFFE0555F;
    default: return light ? 0xFF63717C : 0xFF93A2AD;
  }
}

void paint_state_icon(Canvas& g, int px, int32_t state, bool light, const Argb* colour) {
  if (px < 1) return;
  const StateIconMetrics m = state_icon_metrics(px);
  const Argb c = colour ? *colour : state_icon_colour(state, light);
  const float size = static_cast<float>(px), mid = size / 2;
  const float r = m.ring_radius;

  g.clear(0);
  g.set_antialias(true);
  g.stroke_arc(c, mid - r, mid - r, 2 * r, 2 * r, 135, 270, m.ring_stroke, LineCap::flat);
  if (state == kIconUnreachable && px < 32) g.erase_line(0, 0, size, size, m.strike_gap);
  g.fill_ellipse(c, mid - m.dot_radius, mid - m.dot_radius, 2 * m.dot_radius, 2 * m.dot_radius);

  if (state >= kIconLinked && state <= kIconUnreachable) {
    if (px == 16) {
      // At the smallest size a stroke would blur: four whole-pixel squares, stepped.
      g.set_antialias(false);
      const float sq[4][2] = {{8, 6}, {9, 5}, {10, 4}, {11, 3}};
      for (auto& s : sq) g.fill_rect(c, s[0], s[1], 2, 2);
      g.set_antialias(true);
    } else {
      const float d = 0.70710678f;  // 315 degrees: up and to the right
      const float from = px < 32 ? 1.0f : 0.0f;
      const Pt pts[2] = {{mid + from * d, mid - from * d}, {mid + r * d, mid - r * d}};
      g.stroke_polyline(c, pts, 2, false, m.needle, LineCap::flat, false);
    }
  }

  if (state == kIconAttention) {
    float side = m.needle;
    float x = mid - side / 2, y = mid + r - side / 2;
    if (px < 32) {
      g.set_antialias(false);
      side = std::max(2.0f, std::round(side));
      x = std::round(mid - side / 2);
      y = std::round(mid + r - side / 2);
      x = std::clamp(x, 0.0f, size - side);
      y = std::clamp(y, 0.0f, size - side);
    }
    g.fill_rect(c, x, y, side, side);
    g.set_antialias(true);
  }

  if (state == kIconUnreachable) {
    if (px < 32) {
      for (int i = 0; i < px; ++i) g.erase_rect(static_cast<float>(i), static_cast<float>(i), 1, 1);
    } else {
      g.erase_line(0, 0, size, size, m.strike_gap);
    }
  }
}

}  // namespace ks::tray
