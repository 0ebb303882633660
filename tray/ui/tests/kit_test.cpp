// The drawing kit through the recording canvas: regions, colours, text routines, paragraphs
// with marks, small controls and the layout rules.
#include <gtest/gtest.h>

#include <cmath>

#include "tray/ui/kit.h"
#include "tray/ui/recording_canvas.h"

namespace ks::tray {
namespace {

const FontSpec kFont{"Segoe UI", 12, FontWeight::regular};
const FontSpec kBold{"Segoe UI", 14, FontWeight::bold};

TEST(Kit, ButtonsAppendRegionsInOrderDisabledIncluded) {
  RecordingCanvas g;
  PaintContext pc;
  draw_button(g, pc, kFont, u"Rescan", 10, 20, 80, 30, 4, true, true);
  draw_danger_button(g, pc, kFont, u"Remove", 100, 20, 90, 34, 463, false);
  const float w = draw_button_at_right(g, pc, kFont, u"Install", 400, 5, 465, true, false, 30);
  ASSERT_EQ(pc.regions.size(), 3u);
  EXPECT_EQ(pc.regions[0].id, 4);
  EXPECT_EQ(pc.regions[0].enabled, 1);
  EXPECT_EQ(pc.regions[1].id, 463);
  EXPECT_EQ(pc.regions[1].enabled, 0);  // drawn and listed, but takes no clicks
  EXPECT_FLOAT_EQ(w, 7 * RecordingCanvas::char_width(kFont) + 32);
  EXPECT_FLOAT_EQ(pc.regions[2].x, 400 - w);
  EXPECT_FLOAT_EQ(pc.regions[2].w, w);
}

TEST(Kit, ButtonColoursFollowStateAndHover) {
  struct Case {
    ButtonKind kind;
    bool enabled, hovered;
    Argb fill;
  } cases[] = {
      {ButtonKind::plain, false, false, 0xFF12181E}, {ButtonKind::plain, true, false, 0xFF1B222A},
      {ButtonKind::plain, true, true, 0xFF232C35},   {ButtonKind::primary, true, false, 0xFF12333F},
      {ButtonKind::primary, true, true, 0xFF163F4D}, {ButtonKind::danger, false, true, 0xFF12181E},
      {ButtonKind::danger, true, false, 0xFF1C1214}, {ButtonKind::danger, true, true, 0xFF26181B},
  };
  for (auto& c : cases)
    EXPECT_EQ(button_colours(c.kind, c.enabled, c.hovered).fill, c.fill)
        << static_cast<int>(c.kind) << c.enabled << c.hovered;

  // Hover applies only to an enabled button whose id matches, never to id 0.
  for (int32_t id : {0, 7}) {
    for (bool enabled : {true, false}) {
      RecordingCanvas g;
      PaintContext pc;
      pc.hover_id = id;
      draw_button(g, pc, kFont, u"x", 0, 0, 10, 10, id, enabled, false);
      const Argb want = (id != 0 && enabled) ? 0xFF232C35 : enabled ? 0xFF1B222A : 0xFF12181E;
      EXPECT_EQ(g.ops.front().colour, want) << id << enabled;
    }
  }
}

TEST(Kit, TonesAndSourceTags) {
  EXPECT_EQ(tone_color("ok"), pal::ok);
  EXPECT_EQ(tone_color("warn"), pal::warn);
  EXPECT_EQ(tone_color("bad"), pal::bad);
  EXPECT_EQ(tone_color("lv1"), pal::accent);
  EXPECT_EQ(tone_color(""), pal::muted);
  EXPECT_EQ(tone_color("OK"), pal::muted);
  EXPECT_EQ(tone_border_color("warn", 1), 0xFF4A3A22u);
  EXPECT_EQ(tone_border_color("bad", 1), 0xFF5E2A2Fu);
  EXPECT_EQ(tone_border_color("ok", 1), 1u);
  struct {
    const char* g;
    Argb c;
  } tags[] = {{"", 0xFF2A333C},   {"lcl", pal::accent}, {"A", pal::warn},
              {"aes", pal::warn}, {"B", 0xFF6D78E6},    {"c", 0xFFD97BC8},
              {"Sc", 0xFF7F8C99}, {"USB", 0xFF2A333C},  {"AB", 0xFF2A333C}};
  for (auto& t : tags) EXPECT_EQ(source_tag_colour(t.g), t.c) << t.g;
}

TEST(Kit, OutlinesSnapToPixelCentresFillsDoNot) {
  RecordingCanvas g;
  add_rounded_rect(g, 1, 10.3f, 20.6f, 50.4f, 30.2f, 6);
  fill_round_rect(g, 2, 10.3f, 20.6f, 50.4f, 30.2f, 6);
  ASSERT_EQ(g.ops.size(), 2u);
  EXPECT_FLOAT_EQ(g.ops[0].x, 10.5f);
  EXPECT_FLOAT_EQ(g.ops[0].y, 21.5f);
  // Edges 10 and 61 (60.7 rounded), 21 and 51 (50.8 rounded); the path runs through centres.
  EXPECT_FLOAT_EQ(g.ops[0].w, 61 - 10 - 1);
  EXPECT_FLOAT_EQ(g.ops[0].h, 51 - 21 - 1);
  EXPECT_FLOAT_EQ(g.ops[1].x, 10.3f);
}

TEST(Kit, TextBoxesTrimOnlyWithAWidthAndHeightsStopAtTheBox) {
  RecordingCanvas g;
  const std::u16string long_text(300, u'a');
  draw_text_box(g, long_text, kFont, pal::text, 0, 0, 0, TextAlign::near_);
  draw_text_box(g, long_text, kFont, pal::text, 0, 0, 100, TextAlign::near_);
  ASSERT_EQ(g.ops.size(), 2u);
  EXPECT_FLOAT_EQ(g.ops[0].w, 4000);
  EXPECT_EQ(g.ops[0].text, long_text);
  EXPECT_LT(g.ops[1].text.size(), long_text.size());
  EXPECT_EQ(g.ops[1].text.back(), u'\u2026');

  std::u16string many;
  for (int i = 0; i < 200; ++i) many += u"word ";
  const float lh = RecordingCanvas::line_height(kFont);
  EXPECT_LE(text_height(g, many, kFont, 60), 600.0f);
  EXPECT_GT(text_height(g, many, kFont, 60), 600.0f - lh);
  EXPECT_LE(text_height_400(g, many, kFont, 60), 400.0f);
  EXPECT_FLOAT_EQ(text_height(g, u"", kFont, 60), 0);
}

// Words gathered between stops; marks flip the style and take no room.
TEST(Kit, ParagraphTokensMarksAndBreaks) {
  const float cw = RecordingCanvas::char_width(kFont), ce = RecordingCanvas::char_width(kBold);
  {
    RecordingCanvas g;
    const float h = draw_paragraph(g, true, u"ab\u0001cd\u0001 ef", kFont, kBold, pal::text,
                                   pal::dim, 0, 0, 1000, 18);
    EXPECT_FLOAT_EQ(h, 18);
    ASSERT_EQ(g.ops.size(), 3u);
    EXPECT_EQ(g.ops[0].text, u"ab");
    EXPECT_EQ(g.ops[1].text, u"cd");
    EXPECT_FLOAT_EQ(g.ops[1].x, 2 * cw);  // touching: no space between the runs
    EXPECT_FLOAT_EQ(g.ops[1].font.px, kBold.px);
    EXPECT_FLOAT_EQ(g.ops[1].y, g.ascent(kFont) - g.ascent(kBold));  // shared baseline
    EXPECT_EQ(g.ops[2].text, u"ef");
    EXPECT_FLOAT_EQ(g.ops[2].x, 2 * cw + 2 * ce + cw);
    EXPECT_FLOAT_EQ(g.ops[2].font.px, kFont.px);
  }
  {
    RecordingCanvas g;
    draw_paragraph(g, true, u"a \u0002quiet\u0002", kFont, kBold, pal::text, pal::dim, 0, 0, 1000,
                   18);
    ASSERT_EQ(g.ops.size(), 2u);
    EXPECT_EQ(g.ops[1].colour, pal::dim);
    EXPECT_EQ(g.ops[0].colour, pal::text);
  }
  struct Case {
    std::u16string text;
    float width;
    int lines;
  } cases[] = {
      {u"", 100, 1},
      {u"   ", 100, 1},
      {u"aaaa bbbb", 9 * cw, 1},                               // exactly fits
      {u"aaaa bbbb", 9 * cw - 1, 2},                           // the space breaks the line
      {u"x " + std::u16string(40, u'w') + u" y", 10 * cw, 3},  // long word alone on its line
  };
  for (auto& c : cases) {
    RecordingCanvas g;
    EXPECT_FLOAT_EQ(draw_paragraph(g, false, c.text, kFont, kBold, 0, 0, 0, 0, c.width, 10),
                    10.0f * c.lines)
        << std::string(c.text.begin(), c.text.end());
    EXPECT_TRUE(g.ops.empty());  // measuring draws nothing
  }
  {
    RecordingCanvas g;  // the long word is drawn whole, past the width
    draw_paragraph(g, true, u"x " + std::u16string(40, u'w'), kFont, kBold, 0, 0, 0, 0, 10 * cw,
                   10);
    ASSERT_EQ(g.ops.size(), 2u);
    EXPECT_EQ(g.ops[1].text.size(), 40u);
    EXPECT_FLOAT_EQ(g.ops[1].x, 0);
    EXPECT_FLOAT_EQ(g.ops[1].y, 10);
  }
}

TEST(Kit, BadgeAndToggle) {
  RecordingCanvas g;
  const float on = draw_48v_badge(g, kFont, 0, 0, pal::bad);
  const float off = draw_48v_badge(g, kFont, 0, 0, pal::muted);
  EXPECT_GT(off, on);
  auto t = g.texts();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0], u"48V");
  EXPECT_EQ(t[1], u"48V OFF");

  for (bool enabled : {true, false}) {
    RecordingCanvas tg;
    PaintContext pc;
    pc.hover_id = 400;
    draw_toggle(tg, pc, 5, 6, true, 400, enabled);
    ASSERT_EQ(pc.regions.size(), 1u);
    EXPECT_EQ(pc.regions[0].enabled, enabled ? 1 : 0);
    EXPECT_FLOAT_EQ(pc.regions[0].w, 44);
    EXPECT_EQ(tg.ops.front().colour, enabled ? 0xFF3FAE72u : 0xFF369E66u);
    EXPECT_EQ(tg.ops.back().colour == 0x96151A20u, !enabled);  // the veil
  }
}

// Every stroked glyph stays inside the box its size gives, in its pen, with the shape's own
// points where the drawing names them.
TEST(Kit, GlyphsStrokeTheirShapesInsideTheirSize) {
  using Draw = void (*)(Canvas&, float, float, float, Argb);
  struct Case {
    const char* name;
    Draw draw;
    float half;  // the glyph's reach from its centre, in units of its size
    float pen;   // at size 20
  } cases[] = {
      {"check", draw_check_glyph, 1.0f, 1.3f},
      {"gear", draw_gear_glyph, 1.0f, 3.6f},
      {"reroute", draw_reroute_glyph, 0.5f, 1.8f},
      {"shield", draw_shield_glyph, 0.5f, 1.7f},
      {"plug", draw_plug_glyph, 0.5f, 20 / 18.0f * 1.7f},
  };
  for (const Case& c : cases) {
    RecordingCanvas g;
    c.draw(g, 100, 50, 20, pal::accent);
    ASSERT_FALSE(g.ops.empty()) << c.name;
    for (const DrawOp& o : g.ops) {
      EXPECT_EQ(o.colour, pal::accent) << c.name;
      EXPECT_FLOAT_EQ(o.pen, c.pen) << c.name;
      std::vector<Pt> pts = o.pts;
      if (o.kind == DrawOp::k_line) pts = {{o.x, o.y}, {o.x + o.w, o.y + o.h}};
      if (o.kind == DrawOp::k_ellipse_stroke) pts = {{o.x, o.y}, {o.x + o.w, o.y + o.h}};
      for (const Pt& p : pts) {
        EXPECT_LE(std::abs(p.x - 100), c.half * 20 + 1e-3) << c.name;
        EXPECT_LE(std::abs(p.y - 50), c.half * 20 + 1e-3) << c.name;
      }
    }
  }

  RecordingCanvas g;
  draw_shield_glyph(g, 0, 0, 20, pal::muted);  // u = 1
  ASSERT_EQ(g.ops.size(), 2u);
  EXPECT_TRUE(g.ops[0].closed);
  ASSERT_EQ(g.ops[0].pts.size(), 6u);
  EXPECT_FLOAT_EQ(g.ops[0].pts[3].y, 7.5f);  // the point at the bottom
  EXPECT_FALSE(g.ops[1].closed);             // the check inside

  RecordingCanvas r;
  draw_reroute_glyph(r, 0, 0, 20, pal::muted);
  ASSERT_EQ(r.ops.size(), 4u);
  // Two opposite arrows: the upper one runs right, the lower one left.
  EXPECT_GT(r.ops[0].pts[1].x, r.ops[0].pts[0].x);
  EXPECT_LT(r.ops[1].pts[1].x, r.ops[1].pts[0].x);
  EXPECT_LT(r.ops[0].pts[0].y, r.ops[1].pts[0].y);

  RecordingCanvas gear;
  draw_gear_glyph(gear, 0, 0, 10, pal::muted);
  EXPECT_EQ(gear.ops.size(), 9u);  // the circle and eight spokes
  EXPECT_FLOAT_EQ(gear.ops[0].w, 6.6f);
  for (size_t i = 1; i < gear.ops.size(); ++i) {
    const Pt a = gear.ops[i].pts[0], b = gear.ops[i].pts[1];
    EXPECT_NEAR(std::hypot(a.x, a.y), 7.4f, 1e-3);
    EXPECT_NEAR(std::hypot(b.x, b.y), 10.0f, 1e-3);
  }

  RecordingCanvas w;
  draw_warning_glyph(w, 10, 10, 8, pal::warn, 1.5f);
  ASSERT_EQ(w.ops.size(), 3u);
  EXPECT_TRUE(w.ops[0].closed);
  EXPECT_FLOAT_EQ(w.ops[0].pts[1].x, 10 + 1.15f * 8);
  EXPECT_FLOAT_EQ(w.ops[0].pen, 1.5f);
  EXPECT_EQ(w.ops[2].kind, DrawOp::k_ellipse_fill);  // the dot
  EXPECT_FLOAT_EQ(w.ops[2].w, 1.9f);

  for (bool on : {true, false}) {
    RecordingCanvas rg;
    draw_radio(rg, 20, 20, on);
    ASSERT_EQ(rg.ops.size(), on ? 2u : 1u);
    EXPECT_EQ(rg.ops[0].colour, on ? pal::accent : pal::muted);
    EXPECT_FLOAT_EQ(rg.ops[0].w, 12);
    if (on) {
      EXPECT_FLOAT_EQ(rg.ops[1].w, 5);
    }
  }
}

TEST(Kit, ShadowSitsLowerThanTheCard) {
  RecordingCanvas g;
  draw_shadow(g, 100, 100, 50, 40, 8);
  ASSERT_EQ(g.ops.size(), 10u);
  EXPECT_EQ(g.ops.front().colour >> 24, 3u);
  EXPECT_EQ(g.ops.back().colour >> 24, 39u);
  for (auto& o : g.ops) EXPECT_GT((o.y + o.h) - 140, 100 - o.y);
}

TEST(Layout, ColumnsAndDashboardHeight) {
  struct {
    float w;
    int cols;
  } cases[] = {{835, 8}, {834, 4}, {1643, 16}, {1642, 8}, {0, 4}, {-50, 4}};
  for (auto& c : cases) EXPECT_EQ(dashboard_columns(c.w), c.cols) << c.w;
  EXPECT_EQ(dashboard_height(-1, 976, 1), 877);
  EXPECT_EQ(dashboard_height(-1, 976, 3), 907);
  EXPECT_EQ(dashboard_height(4, 1700, 1), 4 * 83 + 213);
}

TEST(Layout, PopoverPlacement) {
  // Room below.
  auto p = place_popover(16, 60, 100, 300, 200, 1000, 800, 100);
  EXPECT_EQ(p.side, 1);
  EXPECT_FLOAT_EQ(p.y, 186);
  EXPECT_FLOAT_EQ(p.x, 16);  // raised to the margin
  // No room below, room above.
  p = place_popover(16, 500, 600, 300, 200, 1000, 800, 100);
  EXPECT_EQ(p.side, 2);
  EXPECT_FLOAT_EQ(p.y, 392);
  // Neither: beside, right of a cell in the left half, the bottom margin wins.
  p = place_popover(16, 60, 300, 300, 700, 1000, 710, 100);
  EXPECT_EQ(p.side, 0);
  EXPECT_FLOAT_EQ(p.x, 124);
  EXPECT_FLOAT_EQ(p.y, 2);  // raised to 8, then lowered to 710 - 8 - 700
  // Beside, left of a cell in the right half.
  p = place_popover(800, 850, 300, 300, 700, 1000, 760, 100);
  EXPECT_EQ(p.side, 0);
  EXPECT_FLOAT_EQ(p.x, 492);
  // Wider than the area: the right margin wins even below 16.
  p = place_popover(16, 60, 0, 500, 100, 400, 800, 100);
  EXPECT_FLOAT_EQ(p.x, 400 - 16 - 500);
}

}  // namespace
}  // namespace ks::tray
