// The bridge pages through the recording canvas: hit regions by state and the geometry the
// pages fix (grid columns and cells, card and popover placement, reroute grid, details rows).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "tray/services/text_utils.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/dashboard_preview.h"
#include "tray/ui/lookups.h"
#include "tray/ui/recording_canvas.h"
#include "tray/ui/tests/support/bridge_fixture.h"

namespace ks::tray {
namespace {

const HitRegion* region(const PaintContext& pc, int32_t id) {
  for (const HitRegion& r : pc.regions)
    if (r.id == id) return &r;
  return nullptr;
}
bool has_text(const RecordingCanvas& g, const std::u16string& t) {
  const auto texts = g.texts();
  return std::find(texts.begin(), texts.end(), t) != texts.end();
}

struct Page {
  test::BridgeFixture f;
  DashboardUiState ui;
  BridgeState bs;
  BridgeView v;
  RecordingCanvas g;
  PaintContext pc;
  Page() { v.block = &f.b(); }
  float status(float W) {
    pc.regions.clear();
    return paint_status_page(g, pc, v, ui, bs, W);
  }
  void channel(int ch, float W = 976, float H = 1100) {
    status(W);
    pc.regions.clear();
    ui.selected_channel = ch;
    paint_channel_detail(g, pc, v, ui, bs, f.link(), W, H);
  }
};

TEST(StatusPage, GridColumnsAndCellsFollowTheWidth) {
  const struct {
    float W;
    int cols;
  } cases[] = {{834, 4}, {835, 8}, {1642, 8}, {1643, 16}, {600, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.W);
    Page p;
    p.f.b().watch_count = 64;
    for (int ch = 8; ch < 64; ++ch) p.f.patch(ch, "A", uint32_t(ch - 7));
    p.status(c.W);
    EXPECT_EQ(p.bs.columns, c.cols);
    const float cw = (c.W - 32 - 5.0f * float(c.cols - 1)) / float(c.cols);
    EXPECT_FLOAT_EQ(p.bs.cell_w, cw);
    EXPECT_FLOAT_EQ(p.bs.grid_top, 171);  // no notices
    for (int ch : {0, c.cols - 1, c.cols, 63}) {
      const HitRegion* r = region(p.pc, 1000 + ch);
      ASSERT_NE(r, nullptr) << ch;
      EXPECT_FLOAT_EQ(r->x, 16 + float(ch % c.cols) * (cw + 5));
      EXPECT_FLOAT_EQ(r->y, 171 + float(ch / c.cols) * 83);
      EXPECT_FLOAT_EQ(r->h, 78);
    }
    EXPECT_EQ(region(p.pc, 1064), nullptr);
  }
}

// A cell's gain, its unit and the MUTE and 48V badges never cover each other, down to the
// narrowest cell; where the gain row has no room for MUTE it moves up to the name's row, and
// the name stops before it.
TEST(StatusPage, CellBadgesNeverCoverTheGainOrTheName) {
  const struct {
    float W;
    double gain;
    bool phantom, muted;
  } cases[] = {
      {835, 23.0, false, true}, {835, -3.0, true, true}, {835, 45.5, true, false},
      {976, 23.0, false, true}, {976, -3.0, true, true}, {600, -3.0, true, true},
      {1642, -3.0, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.W << " " << c.gain << " 48V " << c.phantom << " mute " << c.muted);
    Page p;
    p.f.b().version = kStatusLayoutVersion;
    p.f.b().watch_count = 1;
    p.f.patch(0, "A", 4, true, c.gain);
    std::strcpy(p.f.b().channel_name[0], "Vox BV 3 long name");
    p.f.b().phantom[0] = c.phantom;
    p.f.b().mute_state[0] = c.muted;
    p.status(c.W);
    const float cell_x = 16, cell_right = 16 + p.bs.cell_w;
    struct Span {
      std::u16string what;
      float x0, x1, y;
    };
    std::vector<Span> spans;  // what the cell shows on its name and gain rows
    bool mute = false, badge48 = false;
    for (const DrawOp& o : p.g.ops) {
      // The name and gain rows of the one cell.
      if (o.y < p.bs.grid_top + 20 || o.y > p.bs.grid_top + 60) continue;
      if (o.kind == DrawOp::k_round_fill && o.colour == 0xFF361A1D) {
        spans.push_back({u"MUTE badge", o.x, o.x + o.w, o.y});
        mute = true;
      } else if (o.kind == DrawOp::k_round_stroke && o.colour == pal::bad) {
        spans.push_back({u"48V badge", o.x, o.x + o.w, o.y});
        badge48 = true;
      } else if (o.kind == DrawOp::k_text && o.text != u"MUTE" && o.text != u"48V") {
        const float tw = RecordingCanvas::char_width(o.font) * float(o.text.size());
        spans.push_back({o.text, o.x, o.x + std::min(tw, o.w), o.y});
      }
    }
    EXPECT_EQ(mute, c.muted);
    EXPECT_EQ(badge48, c.phantom);
    ASSERT_GE(spans.size(), 2u);
    for (size_t i = 0; i < spans.size(); ++i) {
      EXPECT_GE(spans[i].x0, cell_x) << to_utf8(spans[i].what);
      EXPECT_LE(spans[i].x1, cell_right) << to_utf8(spans[i].what);
      for (size_t j = i + 1; j < spans.size(); ++j) {
        const Span &a = spans[i], &b = spans[j];
        if (std::fabs(a.y - b.y) > 8) continue;  // other rows
        EXPECT_TRUE(a.x1 <= b.x0 || b.x1 <= a.x0)
            << to_utf8(a.what) << " [" << a.x0 << "," << a.x1 << "] covers " << to_utf8(b.what)
            << " [" << b.x0 << "," << b.x1 << "]";
      }
    }
  }
}

TEST(StatusPage, ContentHeightMatchesTheDashboardRule) {
  Page p;
  p.f.b().watch_count = 64;
  // The footer hints wrap at 976 and take two lines; the page is as tall as the rule says for
  // the lines it took.
  for (float W : {976.0f, 1900.0f}) {
    const float h = p.status(W);
    EXPECT_EQ(p.bs.hint_lines, W < 1000 ? 2u : 1u);
    EXPECT_EQ(int(std::lround(h)), dashboard_height(-1, W, p.bs.hint_lines));
  }
}

TEST(StatusPage, PillTable) {
  struct Case {
    bool block, loaded, answering, degraded, too_old;
    int problems;
    uint32_t decision;
    bool lv1;
    int32_t uptime;
    const char16_t* text;
  } cases[] = {
      {true, true, true, false, false, 0, 0, true, 60000, u"Linked"},
      {true, true, true, false, false, 1, 0, true, 60000, u"Attention"},
      {true, true, true, true, false, 0, 0, true, 60000, u"Attention"},
      {true, true, true, false, true, 0, 0, true, 60000, u"Attention"},
      {true, true, false, false, false, 0, 4, true, 60000, u"Choose the console in Setup"},
      {true, true, false, false, false, 0, 0, true, 60000, u"Desk unreachable"},
      {true, false, true, false, false, 0, 0, true, 60000, u"No card assigned"},
      {false, false, false, false, false, 0, 0, true, 19999, u"Starting\u2026"},
      {false, false, false, false, false, 0, 0, true, 20000, u"Module not loaded"},
      {false, false, false, false, false, 0, 0, false, -1, u"Not running"},
  };
  for (const Case& c : cases) {
    test::BridgeFixture f;
    f.b().lv1_loaded = c.loaded, f.b().desk_answering = c.answering, f.b().degraded = c.degraded;
    f.b().discovery_decision = c.decision;
    BridgeView v;
    v.block = c.block ? &f.b() : nullptr;
    v.too_old = c.too_old, v.problems = c.problems, v.lv1_running = c.lv1,
    v.lv1_uptime_ms = c.uptime;
    EXPECT_EQ(std::u16string(status_pill(v).text), c.text);
  }
}

TEST(StatusPage, ConsoleTabsOnlyWhenBothBlocksAreAliveAndEmptyStates) {
  Page p;
  p.status(976);
  EXPECT_EQ(region(p.pc, 900), nullptr);
  ASSERT_NE(region(p.pc, 12), nullptr);
  EXPECT_FLOAT_EQ(p.bs.details_button[1], 29);
  p.v.both_alive = true;
  p.status(976);
  EXPECT_NE(region(p.pc, 900), nullptr);
  EXPECT_NE(region(p.pc, 901), nullptr);
  // Empty states: the card not assigned, LV1 starting, LV1 without the module, LV1 closed.
  const struct {
    bool block, lv1;
    int32_t uptime;
    int32_t id;
  } cases[] = {{true, true, 60000, 6},
               {false, true, 5000, 0},
               {false, true, 60000, 8},
               {false, false, -1, 7}};
  for (const auto& c : cases) {
    Page e;
    e.f.b().lv1_loaded = 0;
    e.v.block = c.block ? &e.f.b() : nullptr;
    e.v.lv1_running = c.lv1, e.v.lv1_uptime_ms = c.uptime;
    e.status(976);
    EXPECT_EQ(region(e.pc, 1000), nullptr);
    if (c.id == 0) {
      EXPECT_EQ(region(e.pc, 8), nullptr);
      EXPECT_EQ(region(e.pc, 7), nullptr);
    } else {
      EXPECT_NE(region(e.pc, c.id), nullptr) << c.id;
    }
  }
}

TEST(StatusPage, FilterCountsAndDimmedCells) {
  Page p;
  p.f.b().phantom[1] = p.f.b().phantom[4] = 1;
  p.bs.clips.latch[3] = 1;
  p.bs.signal.mask = 0b111;
  p.ui.view_filter = 3;
  p.status(976);
  EXPECT_TRUE(has_text(p.g, u"All  8"));
  EXPECT_TRUE(has_text(p.g, u"Signal  3"));
  EXPECT_TRUE(has_text(p.g, u"Clipped  1"));
  EXPECT_TRUE(has_text(p.g, u"48V  2"));
  ASSERT_NE(region(p.pc, 19), nullptr);  // clips to clear
  int dimmed = 0;
  for (const MeterOverlay& m : p.bs.meters) dimmed += m.highlight;
  EXPECT_EQ(dimmed, 6);                    // every watched cell but the two with 48V
  EXPECT_NE(region(p.pc, 1000), nullptr);  // dimmed cells stay clickable
}

TEST(ChannelPage, RegionsByChannelState) {
  struct Case {
    const char* name;
    bool prot, phantom, amp, unpatched, x32;
    std::vector<int32_t> present, absent;
  } cases[] = {
      {"plain", false, false, true, false, false, {20, 21, 22, 23, 24, 31, 32, 34, 35}, {33}},
      {"48V on", false, true, true, false, false, {33}, {34, 35}},
      {"protected off", true, false, true, false, false, {35}, {33, 34}},
      {"protected on", true, true, true, false, false, {33, 35}, {34}},
      {"no head amp", false, false, false, false, false, {21, 24}, {31, 32, 33, 34, 35}},
      {"unpatched", false, false, false, true, false, {24}, {21, 22, 23}},
      {"x32", false, false, true, false, true, {20, 31}, {21, 22, 23, 24}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Page p;
    if (c.unpatched)
      p.f.patch(2, "OFF", 0, false);
    else
      p.f.patch(2, "LCL", 3, c.amp);
    p.f.b().is_protected[2] = c.prot;
    p.f.b().phantom[2] = c.phantom;
    p.v.active_console = c.x32 ? 1 : 0;
    p.channel(2);
    for (int32_t id : c.present) EXPECT_NE(region(p.pc, id), nullptr) << id;
    for (int32_t id : c.absent) EXPECT_EQ(region(p.pc, id), nullptr) << id;
    const bool warned = has_text(
        p.g,
        u"48V is on at a protected socket \u2014 switched at the desk, not by Kestrune. The latch cannot stop the console's own button. OFF cuts it and clears this.");
    EXPECT_EQ(warned, c.prot && c.phantom);
  }
}

TEST(ChannelPage, GainAtTheEndsOfTheRangeDisablesThatStep) {
  Page p;
  p.f.b().gain_db[2] = 45.5;
  p.channel(2);
  EXPECT_EQ(region(p.pc, 32), nullptr);
  EXPECT_NE(region(p.pc, 31), nullptr);
  Page q;
  q.f.b().gain_db[2] = -3;
  q.channel(2);
  EXPECT_EQ(region(q.pc, 31), nullptr);
  EXPECT_TRUE(has_text(q.g, u"\u22123.0"));
}

TEST(ChannelPage, CardIsPlacedAgainstItsCellAndNothingBeyondTheWatchCount) {
  Page p;
  p.channel(2, 976, 1100);
  const HitRegion* close = region(p.pc, 20);
  ASSERT_NE(close, nullptr);
  const float cx = 16 + 2 * (p.bs.cell_w + 5);
  const PopoverPlace want =
      place_popover(cx, cx + p.bs.cell_w / 2, 171, 300, 100, 976, 1100, p.bs.cell_w);
  EXPECT_EQ(want.side, 1);
  EXPECT_FLOAT_EQ(close->x, want.x + 300 - 34);  // 24 x 24 at the card's top right
  EXPECT_FLOAT_EQ(close->y, want.y + 12 + 4);
  Page q;
  q.status(976);
  q.pc.regions.clear();
  q.ui.selected_channel = 8;  // the watch count is 8
  paint_channel_detail(q.g, q.pc, q.v, q.ui, q.bs, q.f.link(), 976, 900);
  EXPECT_TRUE(q.pc.regions.empty());
}

// A window shorter than the card leaves its top above the page; the room the card says it needs
// holds all of it, for the channel page and for the link popover alike.
TEST(ChannelPage, TheRoomItNeedsHoldsTheWholeCard) {
  for (bool popover : {false, true}) {
    SCOPED_TRACE(popover);
    Page p;
    p.ui.link_popover_open = popover;
    p.ui.link_op = 1;
    p.status(628);
    p.ui.selected_channel = 0;
    const float need = paint_channel_detail(p.g, p.pc, p.v, p.ui, p.bs, p.f.link(), 628, 200);
    ASSERT_GT(need, 200);
    p.pc.regions.clear();
    EXPECT_FLOAT_EQ(paint_channel_detail(p.g, p.pc, p.v, p.ui, p.bs, p.f.link(), 628, need), need);
    ASSERT_FALSE(p.pc.regions.empty());
    for (const HitRegion& r : p.pc.regions) {
      EXPECT_GE(r.y, 8) << r.id;
      EXPECT_LE(r.y + r.h, need - 8) << r.id;
    }
  }
  Page none;
  none.ui.selected_channel = 8;  // beyond the watch count
  EXPECT_EQ(
      paint_channel_detail(none.g, none.pc, none.v, none.ui, none.bs, none.f.link(), 628, 300), 0);
}

TEST(LinkPopover, ProtectedPartnerForcesSwitchingOffFirst) {
  Page p;
  p.f.b().phantom[2] = 1;
  p.f.b().is_protected[3] = 1;
  p.ui.link_popover_open = true;
  p.ui.link_op = 1;
  p.channel(2);
  EXPECT_EQ(p.ui.link_phantom_choice, 1);
  EXPECT_TRUE(has_text(p.g, u"48V off at LCL 3, then link"));
  EXPECT_NE(region(p.pc, 26), nullptr);
  EXPECT_NE(region(p.pc, 25), nullptr);
  // 48V differs without protection: the two answers.
  Page q;
  q.f.b().phantom[2] = 1;
  q.ui.link_popover_open = true;
  q.ui.link_op = 1;
  q.channel(2);
  EXPECT_NE(region(q.pc, 27), nullptr);
  EXPECT_NE(region(q.pc, 28), nullptr);
  EXPECT_EQ(q.ui.link_phantom_choice, 0);
}

TEST(ReroutePage, GridColumnsByInnerWidthAndButtons) {
  EXPECT_EQ(reroute_columns(600), 8);
  EXPECT_EQ(reroute_columns(599), 4);
  for (float W : {676.0f, 675.0f}) {  // inner width 600 and 599
    Page p;
    p.ui.modal = kModalReroute;
    p.ui.reroute_channel = 2;
    std::memcpy(p.ui.reroute_group, "LCL", 4);
    std::memcpy(p.f.b().input_list_group, "LCL", 4);
    p.f.b().input_list_count = 10;
    for (uint16_t i = 0; i < 10; ++i) p.f.b().input_list[i].input = uint16_t(i + 1);
    paint_reroute_page(p.g, p.pc, p.v, p.ui, p.bs, p.f.link(), W, 1200);
    const int cols = W == 676.0f ? 8 : 4;
    const HitRegion* first = region(p.pc, 700);
    const HitRegion* wrap = region(p.pc, 700 + cols);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(wrap, nullptr);
    EXPECT_FLOAT_EQ(wrap->x, first->x);
    EXPECT_FLOAT_EQ(wrap->y, first->y + 65);
    EXPECT_FLOAT_EQ(first->w, (W - 32 - 44 - 5.0f * float(cols - 1)) / float(cols));
    ASSERT_NE(region(p.pc, 37), nullptr);
    EXPECT_EQ(region(p.pc, 37)->enabled, 0);  // nothing picked
    EXPECT_NE(region(p.pc, 38), nullptr);
    EXPECT_EQ(p.bs.cell_inputs.size(), 10u);
  }
  Page u;
  u.f.patch(2, "OFF", 0, false);
  u.ui.modal = kModalReroute;
  u.ui.reroute_channel = 2;
  paint_reroute_page(u.g, u.pc, u.v, u.ui, u.bs, u.f.link(), 976, 900);
  EXPECT_EQ(region(u.pc, 38), nullptr);  // an unpatched strip has nothing to unroute
  EXPECT_TRUE(has_text(u.g, u"No inputs listed for this group."));
}

TEST(ReroutePage, NotesForThePickedInput) {
  Page p;
  p.ui.modal = kModalReroute;
  p.ui.reroute_channel = 2;
  std::memcpy(p.ui.reroute_group, "LCL", 4);
  std::memcpy(p.f.b().input_list_group, "LCL", 4);
  p.f.b().input_list_count = 2;
  p.f.b().input_list[0] = {};
  p.f.b().input_list[0].input = 5;  // feeds channel 5 (index 4), no head amp, protected, 48V on
  p.f.b().input_list[0].phantom = 1;
  p.f.b().input_list[0].is_protected = 1;
  p.ui.reroute_input = 5;
  paint_reroute_page(p.g, p.pc, p.v, p.ui, p.bs, p.f.link(), 976, 1400);
  const auto texts = p.g.texts();
  auto starts = [&](const char16_t* prefix) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::u16string& t) { return t.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(starts(u"48V on this strip changes. It reads off now and will read on after"));
  EXPECT_TRUE(starts(u"LCL 5 also feeds channel 05."));
  EXPECT_TRUE(starts(u"LCL 5 is protected."));
  EXPECT_TRUE(starts(u"LCL 5 has no head amp."));
  EXPECT_TRUE(starts(u"Kestrune does not copy this channel's gain or 48V"));
  EXPECT_TRUE(has_text(p.g, u"Repatch 03 \u2192 LCL 5"));
  EXPECT_EQ(region(p.pc, 37)->enabled, 1);
}

TEST(DetailsPanel, RowsAndHeight) {
  test::BridgeFixture f;
  std::memcpy(f.b().desk_ip, "10.0.0.9", 9);
  BridgeView v;
  v.block = &f.b();
  f.b().patch_age_ms = 45000;
  auto rows = details_rows(v);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(details_panel_height(rows.size()), 154);
  EXPECT_EQ(rows[4].value, u"live");
  EXPECT_EQ(rows[1].value, u"\u2014");  // no MAC
  f.b().patch_age_ms = 45001;
  EXPECT_EQ(details_rows(v)[4].value, u"swept 45 s ago");
  f.b().patch_age_ms = kPatchNeverRead;
  EXPECT_EQ(details_rows(v)[4].value, u"not read yet");
  f.b().patch_age_ms = 3000;
  f.b().desk_answering = 0;
  EXPECT_EQ(details_rows(v)[4].value, u"stale \u00B7 3 s");
  f.b().degraded = 1;
  v.problems = 2;
  v.install_pending = true;
  f.b().version = 15;
  rows = details_rows(v);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[5].value, u"no control right now");
  EXPECT_EQ(rows[6].value, u"2 problem(s)");
  EXPECT_EQ(rows[7].value, u"module v15 \u00B7 app v17");
  EXPECT_EQ(rows[8].value, u"installs when LV1 closes");
  BridgeView none;
  rows = details_rows(none);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[3].value, u"not loaded");
  EXPECT_EQ(rows[3].dot, 0xFF2A333C);
}

TEST(RemovePage, RemoveIsDisabledWhileLv1RunsAndTheCardFitsItsText) {
  for (bool lv1 : {true, false}) {
    RecordingCanvas g;
    PaintContext pc;
    paint_remove_page(g, pc, lv1, 976, 700);
    ASSERT_EQ(pc.regions.size(), 2u);
    EXPECT_EQ(pc.regions[0].id, 13);
    EXPECT_EQ(pc.regions[0].enabled, lv1 ? 0 : 1);
    EXPECT_EQ(pc.regions[1].id, 14);
    EXPECT_EQ(pc.regions[1].enabled, 1);
    const float h = remove_card_height(g, lv1);
    const float title = RecordingCanvas::line_height({"Segoe UI", 15, FontWeight::bold});
    const float body =
        g.measure(
             lv1 ? u"LV1 holds the module open while it runs, so it can't be swapped underneath it. Quit LV1, then remove \u2014 the desk's own preamps carry on regardless."
                 : u"LV1 goes back to the stock Waves module. You lose preamp gain and 48V control from LV1 until you install again \u2014 the console keeps working. Waves' module was never touched: Remove just deletes Kestrune's own bundle.",
             {"Segoe UI", 12.5f, FontWeight::regular}, 356, 600, true)
            .h;
    EXPECT_FLOAT_EQ(
        h, std::max(title + 8 + body + (lv1 ? 0 : 48), 34.0f) + 22 + (lv1 ? 18 : 20) + 34 + 20);
    EXPECT_FLOAT_EQ(pc.regions[0].y, (700 - h) / 2 + h - 54);
  }
}

// Status blocks from a hostile writer: every page paints without reading past a field.
TEST(HostileBlocks, EveryPagePaintsWhateverTheBlockHolds) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    test::BridgeFixture f;
    auto* bytes = reinterpret_cast<uint8_t*>(&f.b());
    for (size_t i = 0; i < sizeof(StatusBlock); ++i) bytes[i] = uint8_t(rng());
    f.b().magic = kStatusMagic;
    f.b().version = round % 2 ? kStatusLayoutVersion : uint32_t(rng() % 20);
    if (round % 3 == 0) f.b().watch_count = 64;
    DashboardUiState ui;
    BridgeState bs;
    BridgeView v;
    v.block = &f.b();
    RecordingCanvas g;
    PaintContext pc;
    paint_status_page(g, pc, v, ui, bs, 976);
    draw_meter_overlay(g, bs.meters, v.block, bs.clips, watched_channels(v.block));
    track_clips(bs.clips, v.block);
    ui.selected_channel = int(rng() % 64);
    ui.link_popover_open = round % 4 == 1;
    ui.link_op = 1 + rng() % 3;
    paint_channel_detail(g, pc, v, ui, bs, f.link(), 976, 900);
    ui.modal = kModalReroute;
    ui.reroute_channel = int(rng() % 64);
    ui.reroute_group_count = 16;
    std::memcpy(ui.reroute_group, f.b().input_list_group, 8);  // may lack its NUL: read as 7
    ui.reroute_group[7] = 0;
    for (auto& gname : ui.reroute_groups) std::memset(gname, 'Q', 7);
    paint_reroute_page(g, pc, v, ui, bs, f.link(), 976, 900);
    paint_details_panel(g, v, bs);
    for (const HitRegion& r : pc.regions) EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y));
  }
}

TEST(PreviewPages, EveryDashboardPageSetsUpAndPaints) {
  for (const char* name :
       {"channels", "detail", "detailR", "detailmid", "detailbus", "detailshared", "detailprot",
        "detailalarm", "link", "linkdiff", "linkprot", "unlink", "ms", "remove", "reroute",
        "reroutepick", "empty"}) {
    SCOPED_TRACE(name);
    DashboardPreview p;
    ASSERT_TRUE(prepare_dashboard_preview(name, p));
    RecordingCanvas g;
    PaintContext pc;
    const float h = paint_dashboard_preview(g, pc, p, 976, 900);
    EXPECT_GT(h, 0);
    EXPECT_FALSE(pc.regions.empty());
  }
  DashboardPreview p;
  EXPECT_FALSE(prepare_dashboard_preview("setup", p));
  EXPECT_FALSE(prepare_dashboard_preview("nosuch", p));
  // The pages open what their names say.
  ASSERT_TRUE(prepare_dashboard_preview("detailR", p));
  EXPECT_EQ(p.block->link_mode[p.ui.selected_channel], 2);
  ASSERT_TRUE(prepare_dashboard_preview("reroutepick", p));
  EXPECT_EQ(p.ui.modal, kModalReroute);
  EXPECT_NE(p.ui.reroute_input, 0u);
}

}  // namespace
}  // namespace ks::tray
