// The tray state icon's geometry through the recording canvas: size bands, what each state adds,
// the 16-pixel special cases, and the setup page's icon painted at the canvas's scale.
#include <gtest/gtest.h>

#include <algorithm>

#include "tray/ui/kit.h"
#include "tray/ui/recording_canvas.h"
#include "tray/ui/state_icon.h"

namespace ks::tray {
namespace {

size_t count(const std::vector<DrawOp>& ops, DrawOp::Kind k) {
  return static_cast<size_t>(
      std::count_if(ops.begin(), ops.end(), [&](const DrawOp& o) { return o.kind == k; }));
}
const DrawOp* first(const std::vector<DrawOp>& ops, DrawOp::Kind k) {
  for (auto& o : ops)
    if (o.kind == k) return &o;
  return nullptr;
}

TEST(StateIcon, SizesTakeTheirBandsRowScaled) {
  struct Case {
    int px, row;
    float ring_radius, ring_stroke;
  } cases[] = {
      {16, 16, 6.5f, 2.0f},
      {12, 16, 6.5f * 12 / 16, 2.0f * 12 / 16},
      {19, 16, 6.5f * 19 / 16, 2.0f * 19 / 16},
      {20, 20, 7.75f, 2.5f},
      {24, 24, 9.5f, 3.0f},
      {40, 32, 13.0f * 40 / 32, 4.0f * 40 / 32},
      {48, 48, 19.0f, 5.0f},
      {64, 64, 25.0f, 6.5f},
      {127, 64, 25.0f * 127 / 64, 6.5f * 127 / 64},
      {128, 128, 48.0f, 12.0f},
      {256, 256, 96.0f, 24.0f},
      {512, 256, 192.0f, 48.0f},
  };
  for (const Case& c : cases) {
    const StateIconMetrics m = state_icon_metrics(c.px);
    EXPECT_EQ(m.row_px, c.row) << c.px;
    EXPECT_FLOAT_EQ(m.ring_radius, c.ring_radius) << c.px;
    EXPECT_FLOAT_EQ(m.ring_stroke, c.ring_stroke) << c.px;
  }
  EXPECT_FLOAT_EQ(state_icon_metrics(48).strike_gap, 5.5f);
  EXPECT_FLOAT_EQ(state_icon_metrics(24).dot_radius, 3.5f);
}

TEST(StateIcon, ColoursByStateAndTaskbar) {
  struct Case {
    int32_t state;
    Argb light, dark;
  } cases[] = {{0, 0xFF63717C, 0xFF93A2AD},
               {1, 0xFF008043, 0xFF3FB86F},
               {2, 0xFF9A6300, 0xFFE09A35},
               {3, 0xFFC73D4B, 0xFFE0555F},
               {9, 0xFF63717C, 0xFF93A2AD}};
  for (const Case& c : cases) {
    EXPECT_EQ(state_icon_colour(c.state, true), c.light) << c.state;
    EXPECT_EQ(state_icon_colour(c.state, false), c.dark) << c.state;
  }
}

TEST(StateIcon, EveryStateAtEverySizeBand) {
  for (int px : {16, 20, 24, 32, 48, 256}) {
    for (int32_t state : {0, 1, 2, 3}) {
      RecordingCanvas g;
      paint_state_icon(g, px, state, false, nullptr);
      const auto& ops = g.ops;
      const StateIconMetrics m = state_icon_metrics(px);
      const float mid = px / 2.0f;
      SCOPED_TRACE(testing::Message() << px << " px, state " << state);
      ASSERT_FALSE(ops.empty());
      EXPECT_EQ(ops.front().kind, DrawOp::k_clear);
      EXPECT_EQ(ops.front().colour, 0u);  // transparent

      // The ring: open at the bottom, flat caps, in the state's colour.
      const DrawOp* ring = first(ops, DrawOp::k_arc);
      ASSERT_NE(ring, nullptr);
      EXPECT_FLOAT_EQ(ring->start, 135);
      EXPECT_FLOAT_EQ(ring->sweep, 270);
      EXPECT_FLOAT_EQ(ring->x, mid - m.ring_radius);
      EXPECT_FLOAT_EQ(ring->w, 2 * m.ring_radius);
      EXPECT_FLOAT_EQ(ring->pen, m.ring_stroke);
      EXPECT_EQ(ring->cap, LineCap::flat);
      EXPECT_EQ(ring->colour, state_icon_colour(state, false));
      const DrawOp* dot = first(ops, DrawOp::k_ellipse_fill);
      ASSERT_NE(dot, nullptr);
      EXPECT_FLOAT_EQ(dot->x + dot->w / 2, mid);
      EXPECT_FLOAT_EQ(dot->w, 2 * m.dot_radius);

      // The needle: four stepped squares at 16 px, a flat stroke up and right elsewhere.
      const bool needle = state != kIconIdle;
      if (px == 16) {
        size_t squares = 0;
        for (auto& o : ops)
          if (o.kind == DrawOp::k_rect && o.w == 2 && o.h == 2 && !o.antialias) ++squares;
        EXPECT_EQ(squares, needle ? 4u : 0u);
        EXPECT_EQ(count(ops, DrawOp::k_polyline), 0u);
      } else {
        const DrawOp* n = first(ops, DrawOp::k_polyline);
        ASSERT_EQ(n != nullptr, needle);
        if (n) {
          EXPECT_EQ(n->cap, LineCap::flat);
          EXPECT_FLOAT_EQ(n->pen, m.needle);
          EXPECT_GT(n->pts[1].x, n->pts[0].x);
          EXPECT_LT(n->pts[1].y, n->pts[0].y);
          EXPECT_NEAR(n->pts[1].x - mid, m.ring_radius * 0.70710678f, 1e-4);
          EXPECT_FLOAT_EQ(n->pts[0].x, px < 32 ? mid + 0.70710678f : mid);
        }
      }

      // The attention square sits in the ring's opening, inside the bitmap.
      const DrawOp* sq = nullptr;
      for (auto& o : ops)
        if (o.kind == DrawOp::k_rect && !(px == 16 && o.w == 2 && o.h == 2 && o.y < mid)) sq = &o;
      EXPECT_EQ(sq != nullptr, state == kIconAttention);
      if (sq) {
        EXPECT_NEAR(sq->x + sq->w / 2, mid, 0.5f);
        EXPECT_NEAR(sq->y + sq->h / 2, mid + m.ring_radius, 0.5f);
        EXPECT_GE(sq->x, 0);
        EXPECT_LE(sq->y + sq->h, px);
        if (px < 32) {
          EXPECT_FALSE(sq->antialias);
          EXPECT_GE(sq->w, 2);
          EXPECT_EQ(sq->x, static_cast<float>(static_cast<int>(sq->x)));  // whole pixels
        }
      }

      // The strike: only the unreachable icon is cut, below 32 px pixel by pixel as well.
      const size_t erased = count(ops, DrawOp::k_erase_line) + count(ops, DrawOp::k_erase_rect);
      if (state != kIconUnreachable) {
        EXPECT_EQ(erased, 0u);
      } else if (px < 32) {
        EXPECT_EQ(count(ops, DrawOp::k_erase_line), 1u);
        EXPECT_EQ(count(ops, DrawOp::k_erase_rect), static_cast<size_t>(px));
        // The band is cut before the dot, so the dot stays whole.
        EXPECT_LT(first(ops, DrawOp::k_erase_line) - ops.data(), dot - ops.data());
      } else {
        EXPECT_EQ(count(ops, DrawOp::k_erase_line), 1u);
        EXPECT_EQ(ops.back().kind, DrawOp::k_erase_line);  // across everything drawn
        EXPECT_FLOAT_EQ(ops.back().pen, m.strike_gap);
      }
    }
  }
}

TEST(StateIcon, AColourGivenReplacesTheStateColour) {
  RecordingCanvas g;
  const Argb green = pal::ok;
  paint_state_icon(g, 24, kIconLinked, true, &green);
  for (auto& o : g.ops)
    if (o.kind == DrawOp::k_arc || o.kind == DrawOp::k_polyline) {
      EXPECT_EQ(o.colour, green);
    }
}

TEST(StateIcon, DrawnInTheDashboardAtTheCanvasScale) {
  struct Case {
    float scale;
    int px;
  } cases[] = {{1, 16}, {1.5f, 24}, {2, 32}, {8, 16}, {0.5f, 16}, {0, 16}, {7.9f, 126}};
  for (const Case& c : cases) {
    RecordingCanvas g;
    g.scale = c.scale;
    EXPECT_EQ(draw_state_icon(g, 10, 20, 16, pal::ok), c.px) << c.scale;
    ASSERT_EQ(g.ops.size(), 1u);
    const DrawOp& layer = g.ops[0];
    EXPECT_EQ(layer.kind, DrawOp::k_layer);
    EXPECT_FLOAT_EQ(layer.r, static_cast<float>(c.px));  // painted in device pixels
    EXPECT_FLOAT_EQ(layer.x, 10);
    EXPECT_FLOAT_EQ(layer.w, 16);  // drawn into design units
    ASSERT_EQ(g.layers.size(), 1u);
    const DrawOp* ring = first(g.layers[0], DrawOp::k_arc);
    ASSERT_NE(ring, nullptr);
    EXPECT_FLOAT_EQ(ring->w, 2 * state_icon_metrics(c.px).ring_radius);
    EXPECT_EQ(ring->colour, pal::ok);
  }
}

TEST(StateIcon, BandsAndScaleAtOddSizes) {
  struct Case {
    int px, row;
    float ring_radius;
  } cases[] = {
      {16, 16, 6.5f},
      {18, 16, 6.5f * 18 / 16},
      {19, 16, 6.5f * 19 / 16},
      {20, 20, 7.75f},
      {24, 24, 9.5f},
      {31, 24, 9.5f * 31 / 24},
      {32, 32, 13},
      {40, 32, 16.25f},
      {48, 48, 19},
      {64, 64, 25},
      {127, 64, 25 * 127 / 64.0f},
      {128, 128, 48},
      {256, 256, 96},
      {512, 256, 192},
      {8, 16, 3.25f},
  };
  for (const Case& c : cases) {
    const StateIconMetrics m = state_icon_metrics(c.px);
    EXPECT_EQ(m.row_px, c.row) << c.px;
    EXPECT_FLOAT_EQ(m.ring_radius, c.ring_radius) << c.px;
  }
  const StateIconMetrics m = state_icon_metrics(18);
  EXPECT_FLOAT_EQ(m.strike_gap, 2.0f * 18 / 16);
  EXPECT_FLOAT_EQ(m.needle, 2.5f * 18 / 16);
}

TEST(StateIcon, ColoursFollowTheTaskbarOutOfRangeIsIdle) {
  EXPECT_EQ(state_icon_colour(1, true), 0xFF008043u);
  EXPECT_EQ(state_icon_colour(1, false), 0xFF3FB86Fu);
  EXPECT_EQ(state_icon_colour(3, true), 0xFFC73D4Bu);
  EXPECT_EQ(state_icon_colour(2, false), 0xFFE09A35u);
  EXPECT_EQ(state_icon_colour(9, false), state_icon_colour(0, false));
}

}  // namespace
}  // namespace ks::tray
