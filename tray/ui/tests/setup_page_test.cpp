// The setup page over every preview state and over hand-made models, through the recording canvas.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tray/ui/dialogs.h"
#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/recording_canvas.h"
#include "tray/ui/setup_page.h"

namespace ks::tray {
namespace {

JsonValue state_model(const char* name, DashboardUiState& ui) {
  PreviewDemo demo;
  PageModelInputs inputs;
  inputs.version = "3.2.0";
  EXPECT_TRUE(apply_render_state(name, demo, ui, inputs)) << name;
  DashboardState st;
  fill_demo_snapshot(demo, st);
  JsonValue v;
  EXPECT_TRUE(parse_page_model(build_page_model(st, inputs), v)) << name;
  return v;
}

bool known_id(int32_t id) {
  static const std::set<int32_t> fixed = {1, 4, 7, 460, 461, 462, 465};
  if (fixed.count(id)) return true;
  for (int base : {400, 410, 420, 430, 440, 450, 470, 500})
    if (id == base || id == base + 1) return true;
  return id >= 480 && id < 496;
}

TEST(SetupPage, EveryStatePaintsKnownRegionsInsideTheContent) {
  for (const char* name : kSetupStates) {
    for (float W : {540.0f, 900.0f}) {
      DashboardUiState ui;
      const JsonValue m = state_model(name, ui);
      RecordingCanvas g;
      PaintContext pc;
      SetupPageInputs in;
      in.panel_open = {ui.setup_panel_open[0], ui.setup_panel_open[1]};
      const auto res = paint_setup_page(g, pc, m, in, W);
      EXPECT_GT(res.content_height, 200) << name;
      ASSERT_FALSE(pc.regions.empty()) << name;
      const float cw = std::min(W - 48, 852.0f), L = (W - cw) / 2;
      for (const auto& r : pc.regions) {
        EXPECT_TRUE(known_id(r.id)) << name << " id " << r.id;
        EXPECT_GE(r.x, L - 0.01f) << name << " id " << r.id;
        EXPECT_LE(r.x + r.w, L + cw + 0.01f) << name << " id " << r.id;
        EXPECT_LE(r.y + r.h, res.content_height) << name << " id " << r.id;
      }
      // The footer always offers the support file.
      EXPECT_TRUE(std::any_of(pc.regions.begin(), pc.regions.end(), [](const HitRegion& r) {
        return r.id == 1;
      })) << name;
    }
  }
}

TEST(SetupPage, ChooseStateWritesCandidateSlotsAndAnswerRegions) {
  DashboardUiState ui;
  const JsonValue m = state_model("setup-choose", ui);
  RecordingCanvas g;
  PaintContext pc;
  const auto res = paint_setup_page(g, pc, m, {}, 900);
  std::vector<int32_t> answers;
  for (auto& r : pc.regions)
    if (r.id >= 480 && r.id < 496) answers.push_back(r.id);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0], 480);
  EXPECT_EQ(answers[1], 481);
  EXPECT_FALSE(res.candidate_ids[0][0].empty());
  EXPECT_TRUE(res.candidate_ids[0][2].empty());
}

JsonValue parse(const std::string& t) {
  JsonValue v;
  EXPECT_TRUE(parsed_then_blank(t, v)) << t;
  return v;
}

TEST(SetupPage, ContentWidthCardsAndHostileModels) {
  // Width rule: below 900 cw = W - 48, above it 852 centred.
  for (float W : {540.0f, 899.0f, 1400.0f}) {
    RecordingCanvas g;
    PaintContext pc;
    paint_setup_page(g, pc, parse("{}"), {}, W);
    const float cw = std::min(W - 48, 852.0f);
    EXPECT_FLOAT_EQ(g.ops.front().x, (W - cw) / 2) << W;
    EXPECT_FLOAT_EQ(g.ops.front().w, cw) << W;
  }
  // Cards with c outside 0..1 (or absurd) are skipped; an empty message has no buttons beside it.
  const JsonValue m = parse(R"({"cards":[{"c":2,"name":"X"},{"c":-1e308},{"c":"0"},
      {"c":1,"name":"M32","msg":"","retry":true,"blink":true,"support":true,"installed":false}]})");
  RecordingCanvas g;
  PaintContext pc;
  paint_setup_page(g, pc, m, {}, 900);
  std::vector<int32_t> ids;
  for (auto& r : pc.regions) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<int32_t>{401, 1}));  // the switch, then the footer's support file
  // More than 8 answers: only 8 drawn and written.
  std::string many = R"({"cards":[{"c":0,"msg":"Pick one","cands":[)";
  for (int k = 0; k < 12; ++k)
    many += std::string(k ? "," : "") + R"({"head":"W","id":"id)" + std::to_string(k) +
            R"(","card":true})";
  many += "]}]}";
  RecordingCanvas g2;
  PaintContext pc2;
  const auto res = paint_setup_page(g2, pc2, parse(many), {}, 900);
  int use = 0;
  for (auto& r : pc2.regions) use += r.id >= 480 && r.id < 496;
  EXPECT_EQ(use, 8);
  EXPECT_EQ(res.candidate_ids[0][7], "id7");
}

TEST(SetupPage, NameAndMetaGiveWayToTheStatusOnANarrowPage) {
  const JsonValue m = parse(R"({"cards":[{"c":0,"name":"WING Rack with a long name","beta":true,
      "meta":"WSG card \u00b7 10.42.20.2 \u00b7 fw 3.1-0 and more text","status":"Choose the console"}]})");
  RecordingCanvas g;
  PaintContext pc;
  paint_setup_page(g, pc, m, {}, 540);
  const DrawOp* status = nullptr;
  std::vector<const DrawOp*> left;
  for (const auto& o : g.ops) {
    if (o.kind != DrawOp::k_text) continue;
    if (o.text == u"Choose the console") status = &o;
    if (o.text.rfind(u"WSG card", 0) == 0 || o.text.rfind(u"WING Rack", 0) == 0) left.push_back(&o);
  }
  ASSERT_NE(status, nullptr);
  ASSERT_EQ(left.size(), 2u);
  for (const DrawOp* o : left) {
    EXPECT_EQ(o->text.back(), u'\u2026');
    EXPECT_LT(o->x + o->w, status->x - 15);  // clear of the status dot too
  }
}

TEST(SetupPage, ActionMessageToneAndHeight) {
  for (auto [msg, bad] : {std::pair{u"Could not install.", true},
                          {u"Network blocked it.", true},
                          {u"Installed.", false}}) {
    RecordingCanvas g;
    PaintContext pc;
    SetupPageInputs in;
    in.action_message = msg;
    const float with = paint_setup_page(g, pc, parse("{}"), in, 900).content_height;
    const bool red = std::any_of(g.ops.begin(), g.ops.end(), [](const DrawOp& o) {
      return o.kind == DrawOp::k_round_fill && o.colour == 0xFF341A1A;
    });
    EXPECT_EQ(red, bad);
    RecordingCanvas g0;
    PaintContext pc0;
    const float without = paint_setup_page(g0, pc0, parse("{}"), {}, 900).content_height;
    EXPECT_FLOAT_EQ(with - without, RecordingCanvas::line_height({"Segoe UI", 12}) + 18 + 8);
  }
}

TEST(SetupPage, ConfirmStatesPaintTheirDialogWithTwoRegions) {
  for (const char* name :
       {"setup-cfm-update", "setup-cfm-off", "setup-cfm-remove", "setup-cfm-remove-lv1"}) {
    DashboardUiState ui;
    const JsonValue m = state_model(name, ui);
    RecordingCanvas g;
    PaintContext pc;
    ConfirmInputs ci{ui.modal, ui.pending_console, std::string(name) == "setup-cfm-remove-lv1"};
    auto lay = paint_confirm_dialog(g, pc, m, ci, 628, 900);
    ASSERT_TRUE(lay.drawn) << name << " modal " << ui.modal;
    ASSERT_EQ(pc.regions.size(), 2u) << name;
    EXPECT_EQ(pc.regions[0].enabled, std::string(name) == "setup-cfm-remove-lv1" ? 0 : 1) << name;
  }
}

}  // namespace
}  // namespace ks::tray
