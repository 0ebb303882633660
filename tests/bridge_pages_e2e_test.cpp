// The bridge pages against the real system: the LV1 stand-in runs the real Kestrune.dll and the
// signed Fellbrook against the simulated WING, and this process, as the tray program, paints the
// status page, clicks into a channel page, steps a gain, links two inputs, has a link refused and
// repatches a card channel, each click hit-tested on the regions the painters left behind and
// each command served by the module and seen at the desk.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/e2e/desk_run.h"
#include "tests/e2e/tray_side.h"
#include "tray/services/lv1_build.h"
#include "tray/services/status_link.h"
#include "tray/services/text_utils.h"
#include "tray/ui/bridge_dispatch.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/channel_kit.h"
#include "tray/ui/lookups.h"
#include "tray/ui/recording_canvas.h"

namespace ks::e2e {
namespace {

using namespace ks::tray;

// The dashboard as the window procedure drives it: frames painted, clicks hit-tested.
struct Dashboard {
  explicit Dashboard(StatusLinkBridge& l) : link(l) {}
  StatusLinkBridge& link;
  DashboardUiState ui;
  BridgeState bs;
  std::vector<HitRegion> regions;
  std::vector<std::u16string> texts;

  void frame() {
    BridgeView v;
    v.block = link.block();
    v.lv1_running = true;
    v.lv1_uptime_ms = 600000;
    RecordingCanvas g;
    PaintContext pc;
    track_clips(bs.clips, v.block);
    paint_status_page(g, pc, v, ui, bs, 976);
    if (ui.selected_channel >= 0) paint_channel_detail(g, pc, v, ui, bs, link, 976, 1200);
    if (ui.modal == kModalReroute) {
      pc.regions.clear();
      paint_reroute_page(g, pc, v, ui, bs, link, 976, 1200);
    }
    regions = pc.regions;
    texts = g.texts();
  }
  bool shows(const std::u16string& t) const {
    return std::find(texts.begin(), texts.end(), t) != texts.end();
  }
  // A click at the centre of the region with this id, resolved as the window does: the last
  // enabled region containing the point wins.
  bool click(int32_t id) {
    const HitRegion* target = nullptr;
    for (const HitRegion& r : regions)
      if (r.id == id && r.enabled) target = &r;
    if (!target) return false;
    const float x = target->x + target->w / 2, y = target->y + target->h / 2;
    int32_t hit = 0;
    for (auto it = regions.rbegin(); it != regions.rend(); ++it)
      if (it->enabled && x >= it->x && x <= it->x + it->w && y >= it->y && y <= it->y + it->h) {
        hit = it->id;
        break;
      }
    const float* p = ui.reroute_panel;
    const bool inside = x >= p[0] && x <= p[0] + p[2] && y >= p[1] && y <= p[1] + p[3];
    dispatch_bridge_click(hit, inside, ui, bs, link);
    return hit == id;
  }
  // Frames until the posted command is answered (the channel page's or the reroute page's).
  bool settle() {
    return eventually(
        [&] {
          frame();
          return ui.action_seq == 0;
        },
        15000);
  }
};

TEST(BridgePagesEndToEnd, ClicksReachTheDeskAndOutcomesShow) {
  DeskRunOptions o;
  o.verbose = true;
  bool checked = false;
  o.outside_check = [&](const DeskProbe& p) {
    StandInAsLv1 sys;
    StatusLinkEnv env;
    env.lv1_running = [&sys] { return lv1_running(sys); };
    StatusLink status(env);
    ASSERT_TRUE(eventually([&] { return status.tray_state() == TrayState::linked; }, 10000));
    StatusLinkBridge link(status);
    Dashboard d(link);
    d.frame();
    ASSERT_FALSE(d.regions.empty());

    // Channel 7 (LCL 7): its page, then one step up.
    ASSERT_TRUE(d.click(1006));
    d.frame();
    ASSERT_EQ(d.ui.selected_channel, 6);
    const StatusBlock* b = link.block();
    ASSERT_NE(b, nullptr);
    const double before = p.desk_gain_db(7);
    const GainRange r = channel_gain_range(b, 6);
    EXPECT_TRUE(d.shows(step_label(r.step, true)));
    ASSERT_TRUE(d.click(32));
    EXPECT_EQ(d.ui.action_reply, kWorkingText);
    ASSERT_TRUE(d.settle());
    EXPECT_EQ(d.ui.action_reply, "");
    const double want = std::min(before + r.step, r.max);
    EXPECT_TRUE(eventually([&] { return std::fabs(p.desk_gain_db(7) - want) < 0.01; }, 5000))
        << p.desk_gain_db(7);
    char say[200];
    std::snprintf(say, sizeof say,
                  "tray    channel page 07: +%.2f clicked; the desk's LCL 7 went %+.1f -> %+.1f dB",
                  r.step, before, p.desk_gain_db(7));
    p.say(say);

    // Channel 3 (LCL 3, 48 V on since LV1 switched it) linked with LCL 4, which takes 48 V.
    ASSERT_TRUE(d.click(1002));
    d.frame();
    ASSERT_TRUE(d.click(22));
    ASSERT_TRUE(d.ui.link_popover_open);
    d.frame();
    ASSERT_TRUE(d.click(28));
    d.frame();
    ASSERT_TRUE(d.click(26));
    ASSERT_TRUE(d.settle());
    EXPECT_EQ(d.ui.action_reply, "");
    EXPECT_FALSE(d.ui.link_popover_open);
    EXPECT_EQ(p.desk_node("io/in/LCL/3/mode"), "ST");
    EXPECT_TRUE(eventually([&] { return link.block() && link.block()->link_mode[2] == 1; }, 5000));
    p.say(
        "tray    channel page 03: Stereo, \"LCL 4 takes 48V\", Link: done; the desk's LCL 3 mode reads " +
        p.desk_node("io/in/LCL/3/mode"));

    // Channel 5 (LCL 5) with the protected LCL 6: 48 V is off at LCL 5 when the popover opens,
    // the engineer switches it on at the desk while it is open, and the module refuses the link
    // the popover then asks for.
    p.desk_phantom(5, false);
    ASSERT_TRUE(eventually([&] { return link.block()->phantom[4] == 0; }, 5000));
    ASSERT_TRUE(d.click(1004));
    d.frame();
    ASSERT_TRUE(d.click(22));
    d.frame();
    ASSERT_TRUE(d.ui.link_popover_open);
    p.desk_phantom(5, true);
    ASSERT_TRUE(eventually([&] { return link.block()->phantom[4] == 1; }, 5000));
    ASSERT_TRUE(d.click(26));  // the frame on screen still offered the plain link
    ASSERT_TRUE(d.settle());
    const std::string refused =
        "Refused \xE2\x80\x94 won't link: 48V is on and LCL 6 is a protected ribbon input";
    EXPECT_EQ(d.ui.action_reply, refused);
    EXPECT_TRUE(d.ui.link_popover_open);  // a refusal leaves the question open
    EXPECT_TRUE(std::find(d.texts.begin(), d.texts.end(), from_utf8(refused)) != d.texts.end());
    EXPECT_EQ(p.desk_node("io/in/LCL/5/mode"), "M");
    p.say("tray    channel page 05: Link refused, shown as \"" + d.ui.action_reply + "\"");
    p.desk_phantom(5, false);
    ASSERT_TRUE(d.click(25));
    d.frame();
    ASSERT_TRUE(d.click(20));
    d.frame();

    // Channel 8 (the card's channel 8, LCL 8) repatched to LCL 2, from the group's listed inputs.
    ASSERT_TRUE(d.click(1007));
    d.frame();
    ASSERT_TRUE(d.click(24));
    ASSERT_EQ(d.ui.modal, kModalReroute);
    ASSERT_TRUE(d.settle());  // the scan of LCL
    ASSERT_EQ(d.ui.reroute_reply, "");
    d.frame();
    int cell = -1;
    for (size_t i = 0; i < d.bs.cell_inputs.size(); ++i)
      if (d.bs.cell_inputs[i] == 2) cell = int(i);
    ASSERT_GE(cell, 0) << d.bs.cell_inputs.size() << " cells, group " << d.ui.reroute_group
                       << ", listed " << link.block()->input_list_count << " of "
                       << link.block()->input_list_group;
    ASSERT_TRUE(d.click(700 + cell));
    EXPECT_EQ(d.ui.reroute_input, 2u);
    d.frame();
    EXPECT_TRUE(d.shows(u"Repatch 08 \u2192 LCL 2"));
    ASSERT_TRUE(d.click(37));
    ASSERT_TRUE(d.settle());
    EXPECT_EQ(d.ui.modal, kModalNone) << d.ui.reroute_reply;
    EXPECT_EQ(p.desk_node("io/out/MOD/8/grp"), "LCL");
    EXPECT_EQ(p.desk_node("io/out/MOD/8/in"), "2");
    EXPECT_TRUE(eventually([&] { return link.block() && link.block()->src_input[7] == 2; }, 5000));
    p.say("tray    reroute page 08: LCL 2 picked, Repatch: done; the desk's MOD 8 reads " +
          p.desk_node("io/out/MOD/8/grp") + " " + p.desk_node("io/out/MOD/8/in"));
    checked = true;
  };
  DeskRunResult r = run_wing(o);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(r.module_loaded);
  for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
}

}  // namespace
}  // namespace ks::e2e
