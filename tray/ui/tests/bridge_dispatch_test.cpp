// The bridge pages' clicks over DashboardUiState against a block in memory whose ring a module
// stand-in serves: gain steps, links, the reroute flow and the outcomes they come back with.
#include <gtest/gtest.h>

#include <cstring>

#include "tray/ui/bridge_dispatch.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/recording_canvas.h"
#include "tray/ui/tests/support/bridge_fixture.h"

namespace ks::tray {
namespace {

struct Dash {
  test::BridgeFixture f;
  DashboardUiState ui;
  BridgeState bs;
  bool click(int32_t id, bool inside = true) {
    return dispatch_bridge_click(id, inside, ui, bs, f.link());
  }
};

TEST(BridgeDispatch, ChannelCellsOpenAndCloseTheChannelPage) {
  Dash d;
  d.ui.details_open = true;
  EXPECT_TRUE(d.click(1003));
  EXPECT_EQ(d.ui.selected_channel, 3);
  EXPECT_FALSE(d.ui.details_open);
  EXPECT_TRUE(d.click(31));  // a gain button keeps the page open
  EXPECT_EQ(d.ui.selected_channel, 3);
  EXPECT_TRUE(d.click(1003));  // the open channel again closes it
  EXPECT_EQ(d.ui.selected_channel, -1);
  d.click(1002);
  EXPECT_TRUE(d.click(0));  // the empty background closes it
  EXPECT_EQ(d.ui.selected_channel, -1);
  d.click(1002);
  d.click(33);  // 48V and protect are outside 20-32: they close the page and do nothing else
  EXPECT_EQ(d.ui.selected_channel, -1);
  EXPECT_EQ(d.f.b().last_posted_seq, 1u);  // only the gain step above was posted
  EXPECT_TRUE(d.click(12));
  EXPECT_TRUE(d.ui.details_open);
  EXPECT_TRUE(d.click(0));
  EXPECT_FALSE(d.ui.details_open);
  EXPECT_FALSE(d.click(6));  // setup ids are passed on
}

TEST(BridgeDispatch, FiltersToggleBackToAllAndClearingClipsLeavesTheClippedView) {
  Dash d;
  d.click(17);
  EXPECT_EQ(d.ui.view_filter, 2u);
  d.click(16);
  EXPECT_EQ(d.ui.view_filter, 1u);
  d.click(16);
  EXPECT_EQ(d.ui.view_filter, 0u);
  d.click(18);
  d.click(15);
  EXPECT_EQ(d.ui.view_filter, 0u);
  d.bs.clips.latch[2] = 1, d.bs.clips.clipped_channels = 1;
  d.click(17);
  d.click(19);
  EXPECT_EQ(d.ui.view_filter, 0u);
  EXPECT_EQ(d.bs.clips.latch[2], 0);
}

TEST(BridgeDispatch, GainStepsPostTheStepTheButtonsShowClampedToTheRange) {
  struct Case {
    double gain, step;
    int32_t id;
    bool posts;
    double value;
  } cases[] = {
      {20.0, 2.5, 32, true, 22.5}, {20.0, 2.5, 31, true, 17.5},
      {44.0, 2.5, 32, true, 45.5}, {45.5, 2.5, 32, false, 0},
      {-3.0, 2.5, 31, false, 0},   {20.0, 0.0, 32, true, 20.5},  // zero step: 0.5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.gain << " step " << c.step << " id " << c.id);
    Dash d;
    d.f.range("LCL", -3, 45.5, c.step);
    d.f.b().gain_db[1] = c.gain;
    d.click(1001);
    d.click(c.id);
    const auto served = d.f.serve(1);
    ASSERT_EQ(served.size(), c.posts ? 1u : 0u);
    if (!c.posts) continue;
    EXPECT_EQ(served[0].op, 6u);
    EXPECT_EQ(served[0].channel, 1);
    EXPECT_DOUBLE_EQ(served[0].value, c.value);
    EXPECT_EQ(d.ui.action_reply, kWorkingText);
    take_action_outcome(d.ui, d.f.link());
    EXPECT_EQ(d.ui.action_reply, "");
    EXPECT_EQ(d.ui.action_seq, 0u);
  }
  // The labels say the same step: a published step of 0 reads 0.50 on both buttons.
  Dash d;
  d.f.range("LCL", -3, 45.5, 0.0);
  d.ui.selected_channel = 1;
  RecordingCanvas g;
  PaintContext pc;
  BridgeView v;
  v.block = &d.f.b();
  paint_channel_detail(g, pc, v, d.ui, d.bs, d.f.link(), 976, 900);
  const auto texts = g.texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), u"+0.50"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), u"\u22120.50"), texts.end());
}

TEST(BridgeDispatch, OutcomeTexts) {
  const struct {
    uint32_t result;
    const char* reply;
    std::string text;
  } cases[] = {
      {1, "", ""},
      {2, "this input has no head amp", "Refused \xE2\x80\x94 this input has no head amp"},
      {2, "", "The desk refused that."},
      {3, "the desk is not answering", "The desk link is down \xE2\x80\x94 nothing was sent."},
  };
  for (const auto& c : cases) {
    Dash d;
    d.click(1002);
    d.click(22);  // stereo: the link popover opens
    ASSERT_TRUE(d.ui.link_popover_open);
    d.click(26);
    d.f.serve(c.result, c.reply);
    take_action_outcome(d.ui, d.f.link());
    EXPECT_EQ(d.ui.action_reply, c.text);
    EXPECT_EQ(d.ui.link_popover_open, c.result != 1);  // done closes the popover
  }
}

TEST(BridgeDispatch, LinksAskFirstAndPostTheChosenAnswer) {
  Dash d;
  d.f.b().phantom[2] = 1;
  d.click(1002);
  d.click(21);  // mono is the current mode: nothing
  EXPECT_FALSE(d.ui.link_popover_open);
  d.click(23);
  EXPECT_TRUE(d.ui.link_popover_open);
  EXPECT_EQ(d.ui.link_op, 3u);
  d.click(28);
  d.click(26);
  auto served = d.f.serve(1);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].op, 3u);
  EXPECT_EQ(served[0].channel, 2);
  EXPECT_EQ(served[0].arg, 2u);
  EXPECT_DOUBLE_EQ(served[0].value, 0.0);
}

TEST(BridgeDispatch, UnlinkGoesStraightOnlyWhenTheFreedLegsParkedGainMatches) {
  struct Case {
    bool parked;
    double parked_gain;
    uint32_t version;
    bool straight;
  } cases[] = {{true, 20.1, 17, true},
               {true, 21.0, 17, false},
               {false, 20.0, 17, false},
               {true, 20.0, 9, false}};
  for (const Case& c : cases) {
    Dash d;
    d.f.b().version = c.version;
    d.f.b().link_mode[2] = 1, d.f.b().link_mode[3] = 2;  // LCL 3 + 4
    d.f.b().parked_valid[3] = c.parked;
    d.f.b().parked_gain_db[3] = c.parked_gain;
    d.click(1002);
    d.click(21);
    const auto served = d.f.serve(1);
    EXPECT_EQ(d.ui.link_popover_open, !c.straight);
    // Layout 9 has no ring, so a straight unlink could never be posted there anyway.
    if (c.straight) {
      ASSERT_EQ(served.size(), 1u);
      EXPECT_EQ(served[0].op, 2u);
      EXPECT_EQ(served[0].arg, 3u);
      EXPECT_DOUBLE_EQ(served[0].value, 20.0);
    }
  }
  // The popover's unlink posts the gain choice and this leg's gain.
  Dash d;
  d.f.b().link_mode[2] = 1, d.f.b().link_mode[3] = 2;
  d.click(1002);
  d.click(21);
  d.click(30);
  d.click(26);
  const auto served = d.f.serve(1);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].arg, 4u);
}

TEST(BridgeDispatch, LinkOnTheLastChannelHasNoPartnerAndStillAsks) {
  Dash d;
  d.f.b().watch_count = 64;
  d.f.patch(63, "A", 63);
  d.f.b().link_mode[63] = 1;  // a leading leg whose partner is beyond the watched range
  d.click(1063);
  d.click(21);
  EXPECT_TRUE(d.ui.link_popover_open);
  EXPECT_FALSE(unlink_goes_straight(&d.f.b(), 63));
  RecordingCanvas g;
  PaintContext pc;
  BridgeView v;
  v.block = &d.f.b();
  d.bs.columns = 8, d.bs.cell_w = 112, d.bs.grid_top = 171;
  paint_channel_detail(g, pc, v, d.ui, d.bs, d.f.link(), 976, 900);
  EXPECT_FALSE(pc.regions.empty());
}

// A block with group A listed and channel 2 fed from LCL 3.
void open_reroute(Dash& d) {
  d.f.range("LCL", -3, 45.5, 0.5);
  d.f.range("A", -3, 45.5, 0.5);
  d.click(1002);
  d.click(24);
}

void publish_list(StatusBlock& b, const char* group, std::initializer_list<uint16_t> inputs) {
  std::memset(b.input_list_group, 0, kBankBytes);
  std::strncpy(b.input_list_group, group, 7);
  b.input_list_count = uint32_t(inputs.size());
  uint32_t i = 0;
  for (uint16_t in : inputs) {
    b.input_list[i] = ListedInput{};
    b.input_list[i].input = in;
    b.input_list[i].has_head_amp = 1;
    ++i;
  }
  ++b.input_list_serial;
}

void paint(Dash& d) {
  RecordingCanvas g;
  PaintContext pc;
  BridgeView v;
  v.block = d.f.link().block();
  paint_reroute_page(g, pc, v, d.ui, d.bs, d.f.link(), 976, 900);
}

TEST(RerouteFlow, OpensWithAScanOfTheStripsGroupAndCachesOnlyThatGroup) {
  Dash d;
  d.f.b().version = 10;
  d.click(1002);
  d.click(24);
  EXPECT_EQ(d.ui.action_reply, kTooOldToReroute);
  EXPECT_EQ(d.ui.modal, kModalNone);

  Dash e;
  open_reroute(e);
  EXPECT_EQ(e.ui.modal, kModalReroute);
  EXPECT_EQ(e.ui.reroute_channel, 2);
  EXPECT_EQ(e.ui.selected_channel, -1);
  EXPECT_STREQ(e.ui.reroute_group, "LCL");
  EXPECT_EQ(e.ui.reroute_pending, 4u);
  publish_list(e.f.b(), "A", {1, 2});  // another group's list: not cached under LCL
  auto served = e.f.serve(1);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].op, 4u);
  EXPECT_EQ(served[0].group, "LCL");
  paint(e);
  EXPECT_TRUE(e.bs.input_cache.empty());
  EXPECT_EQ(e.ui.reroute_pending, 0u);

  // An unpatched strip scans the first group of the ranges.
  Dash u;
  u.f.patch(2, "OFF", 0);
  u.f.range("A", -3, 45.5, 0.5);
  u.click(1002);
  u.click(24);
  EXPECT_STREQ(u.ui.reroute_group, "A");
}

TEST(RerouteFlow, ClickPicksTheInputDrawnInTheCellNotAnIndexIntoTheLiveList) {
  Dash d;
  open_reroute(d);
  publish_list(d.f.b(), "LCL", {1, 2, 3, 4, 5, 6});
  d.f.serve(1);
  paint(d);  // scan done: six inputs cached
  ASSERT_EQ(d.bs.input_cache["LCL"].size(), 6u);
  // A new scan starts and the module refills the list from the front: only input 9 so far.
  d.click(600 + 0);  // LCL is tab 0
  EXPECT_TRUE(d.ui.reroute_listing);
  publish_list(d.f.b(), "LCL", {9});
  paint(d);  // the cached six are drawn
  ASSERT_EQ(d.bs.cell_inputs.size(), 6u);
  d.click(700 + 0);
  EXPECT_EQ(d.ui.reroute_input, 1u);  // the input drawn in cell 0, not the live list's 9
  d.click(700 + 0);
  EXPECT_EQ(d.ui.reroute_input, 0u);  // picking it again unpicks
  d.click(700 + 5);
  EXPECT_EQ(d.ui.reroute_input, 6u);
  d.click(700 + 40);  // no such cell
  EXPECT_EQ(d.ui.reroute_input, 6u);
}

TEST(RerouteFlow, RepatchDoneClosesRefusedKeepsThePageAndThePick) {
  Dash d;
  open_reroute(d);
  publish_list(d.f.b(), "LCL", {1, 2, 3});
  d.f.serve(1);
  paint(d);
  d.click(0);  // inside the panel, nothing picked
  EXPECT_EQ(d.ui.reroute_reply, kPickFirstText);
  d.click(37);  // nothing picked: no post
  EXPECT_EQ(d.f.serve(1).size(), 0u);
  d.click(702);
  d.click(37);
  EXPECT_EQ(d.ui.reroute_reply, kRepatchingText);
  d.click(37);  // pending: one repatch at a time
  auto served = d.f.serve(2, "the desk refused the repatch");
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].op, 5u);
  EXPECT_EQ(served[0].group, "LCL");
  EXPECT_EQ(served[0].arg2, 3u);
  paint(d);
  EXPECT_EQ(d.ui.modal, kModalReroute);
  EXPECT_EQ(d.ui.reroute_reply, "Refused \xE2\x80\x94 the desk refused the repatch");
  EXPECT_EQ(d.ui.reroute_input, 3u);
  d.click(37);
  d.f.serve(1);
  paint(d);
  EXPECT_EQ(d.ui.modal, kModalNone);
  EXPECT_EQ(d.ui.reroute_channel, -1);
}

TEST(RerouteFlow, UnrouteCancelAndClicksOutsideThePanel) {
  Dash d;
  open_reroute(d);
  d.f.serve(1);
  d.click(38);
  auto served = d.f.serve(1);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].group, "OFF");
  EXPECT_EQ(served[0].arg2, 1u);
  Dash e;
  open_reroute(e);
  e.click(0, false);
  EXPECT_EQ(e.ui.modal, kModalNone);
  Dash f;
  open_reroute(f);
  f.click(36);
  EXPECT_EQ(f.ui.modal, kModalNone);
  EXPECT_EQ(f.ui.reroute_pending, 0u);
}

TEST(RerouteFlow, RepliesThatNeverComeAndAnOlderModuleTakingOver) {
  Dash d;
  open_reroute(d);
  d.f.serve(1);
  paint(d);
  d.click(1 + 700);  // no list: nothing to pick
  publish_list(d.f.b(), "LCL", {1, 2});
  paint(d);
  d.click(701);
  d.click(37);
  for (int i = 0; i < 5; ++i) paint(d);  // the module never answers: the page waits, open
  EXPECT_EQ(d.ui.reroute_pending, 5u);
  EXPECT_EQ(d.ui.modal, kModalReroute);
  // A module of an older layout replaces it: no ring any more, so the wait ends now.
  d.f.b().version = 12;
  paint(d);
  EXPECT_EQ(d.ui.reroute_pending, 0u);
  EXPECT_EQ(d.ui.reroute_reply, kRefusedTooOld);
  // The block goes away: the page closes.
  d.f.b().magic = 0;
  paint(d);
  EXPECT_EQ(d.ui.modal, kModalNone);
}

TEST(RerouteFlow, ARingThatIsFullSaysSo) {
  Dash d;
  open_reroute(d);
  for (int i = 0; i < 7; ++i) ring_post(d.f.view(), {6, 0, 0, 20.0, {}, 0});
  d.click(38);
  EXPECT_EQ(d.ui.reroute_reply, kRefusedRingFull);
  EXPECT_EQ(d.ui.reroute_pending, 0u);
}

}  // namespace
}  // namespace ks::tray
