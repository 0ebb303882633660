// The channel model: what each accessor answers before and after the patch is read, stepping and
// clamping, the range table, gangs, and what a shrinking watch count leaves behind.
#include "bridge/channel_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "os/tests/support/manual_clock.h"

namespace ks {
namespace {

class ChannelModel : public FrameworkTest {};

TEST_F(ChannelModel, BeforeThePatchIsReadTheSettingsDecide) {
  settings().bank.set("A");
  settings().base.store(9);
  EXPECT_EQ(channel_bank(5), "A");
  EXPECT_EQ(channel_input(5), 14u);
  EXPECT_EQ(channel_gain_input(5), 14u);
  EXPECT_TRUE(channel_has_head_amp(5));
  EXPECT_TRUE(channel_has_head_amp(63));
  EXPECT_FALSE(channel_has_head_amp(64));
  EXPECT_FALSE(channel_has_head_amp(-1));
  GainRange r = channel_gain_range(5);
  EXPECT_EQ(r.min, 0.0);
  EXPECT_EQ(r.max, 45.0);
  EXPECT_EQ(r.step, 2.5);
  // A stored record does not count until the patch has been read.
  channel_store(5, make_record("B", 3, false));
  EXPECT_TRUE(channel_has_head_amp(5));
  EXPECT_EQ(module_has_preamp(5), true);
  EXPECT_EQ(module_gain_max(70), 45.0);
}

TEST_F(ChannelModel, AfterThePatchIsReadTheRecordsDecide) {
  settings().bank.set("A");
  channel_store(0, make_record("B", 3));
  channel_store(1, make_record("", 7));  // no bank of its own: the setting's bank
  channel_store(2,
                make_record("C", 6, true, kStereoUpper));  // upper leg of a stereo pair: head amp 5
  channel_store(3, make_record("C", 9, false));
  set_patch_read(100);
  EXPECT_EQ(channel_bank(0), "B");
  EXPECT_EQ(channel_bank(1), "A");
  EXPECT_EQ(channel_input(2), 6u);
  EXPECT_EQ(channel_gain_input(2), 5u);
  EXPECT_FALSE(channel_has_head_amp(3));
  EXPECT_FALSE(module_has_preamp(3));
  EXPECT_FALSE(module_has_preamp(64));
  EXPECT_FALSE(module_has_preamp(0xFFFFFFFFu));
  EXPECT_TRUE(patch_is_read());
  EXPECT_EQ(patch_read_tick(), 100u);
}

TEST(StepAndClamp, Table) {
  struct Case {
    double db;
    GainRange r;
    double expect;
  };
  const Case cases[] = {
      {12.3, {0, 60, 2.5}, 12.5},  {12.2, {0, 60, 2.5}, 12.5},     {11.2, {0, 60, 2.5}, 10.0},
      {-5.0, {0, 60, 2.5}, 0.0},   {70.0, {0, 60, 2.5}, 60.0},     {59.9, {0, 60, 2.5}, 60.0},
      {3.26, {-12, 60, 0.5}, 3.5}, {-12.2, {-12, 60, 0.5}, -12.0}, {7.77, {0, 45, 0}, 7.77},
      {50.0, {0, 45, 0}, 45.0},    {44.9, {0, 45, 2.5}, 45.0},     {1.25, {0, 45, 2.5}, 2.5},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(step_and_clamp(c.db, c.r), c.expect) << c.db;
}

TEST_F(ChannelModel, RangeTableReadsEachBankOnceAndHoldsEight) {
  desk().set_range("LCL", -3, 60, 0.5);
  read_bank_range("LCL");
  read_bank_range("lcl");
  EXPECT_EQ(desk().calls_of("gain_range").size(), 1u);
  EXPECT_TRUE(
      host().logged("[range] LCL: -3.0 .. 60.0 dB, step 0.50 dB (from the node definition)"));
  BankRange e;
  ASSERT_TRUE(gain_range_for_bank("Lcl", e));
  EXPECT_EQ(e.known, 1);
  for (const char* b : {"A", "B", "C", "SC", "AUX", "USB", "CRD", "MOD"}) read_bank_range(b);
  EXPECT_EQ(range_count(), 8);
  EXPECT_FALSE(gain_range_for_bank("MOD", e)) << "a ninth bank gets no entry";
  EXPECT_TRUE(gain_range_for_bank("CRD", e));
  EXPECT_EQ(e.known, 0);
  EXPECT_TRUE(host().logged(
      "[range] A: the desk gave no definition - using defaults (0.0 .. 45.0 dB, step 2.50)"));

  channel_store(0, make_record("MOD", 1));
  channel_store(1, make_record("LCL", 1));
  set_patch_read(0);
  EXPECT_EQ(channel_gain_range(0).max, 45.0) << "no entry: the defaults";
  EXPECT_EQ(channel_gain_range(1).min, -3.0);
  EXPECT_EQ(module_gain_step(1), 0.5);
}

TEST_F(ChannelModel, ADefinitionThatMakesNoSenseCountsAsNone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double min, max, step;
  };
  const Case bad[] = {{nan, 60, 1}, {0, nan, 1}, {0, 60, nan}, {60, 0, 1},
                      {0, 0, 0},    {0, 60, -1}, {0, 1, 5}};
  const char* banks[] = {"B1", "B2", "B3", "B4", "B5", "B6", "B7"};
  for (int i = 0; i < 7; ++i) {
    desk().set_range(banks[i], bad[i].min, bad[i].max, bad[i].step);
    read_bank_range(banks[i]);
    BankRange e;
    ASSERT_TRUE(gain_range_for_bank(banks[i], e));
    EXPECT_EQ(e.known, 0) << banks[i];
    EXPECT_EQ(e.max, 45.0) << banks[i];
  }
}

TEST_F(ChannelModel, UnknownRangesAreRetriedAfter60sOneBankPerCall) {
  ManualClock clock(0xFFFFF000u, ManualClock::Mode::automatic);  // close to the tick wrap
  set_bridge_clock(&clock);
  read_bank_range("A");
  read_bank_range("B");
  desk().set_range("A", 0, 60, 1);
  desk().set_range("B", 0, 70, 1);
  desk().clear_calls();
  clock.advance(59999);
  retry_unknown_range();
  EXPECT_TRUE(desk().calls_of("gain_range").empty()) << "too soon";
  clock.advance(1);
  retry_unknown_range();
  EXPECT_EQ(desk().calls_of("gain_range"), std::vector<std::string>{"gain_range A 1"});
  EXPECT_TRUE(host().logged("[range] A: definition arrived on a retry: 0.0 .. 60.0 dB, step 1.00"));
  retry_unknown_range();
  EXPECT_EQ(desk().calls_of("gain_range").size(), 2u);
  BankRange e;
  ASSERT_TRUE(gain_range_for_bank("B", e));
  EXPECT_EQ(e.known, 1);
  EXPECT_EQ(e.max, 70.0);
  retry_unknown_range();
  EXPECT_EQ(desk().calls_of("gain_range").size(), 2u) << "nothing left to retry";
}

TEST_F(ChannelModel, AFailedRetryWaitsAnother60s) {
  ManualClock clock(5000, ManualClock::Mode::automatic);
  set_bridge_clock(&clock);
  read_bank_range("A");
  clock.advance(60000);
  retry_unknown_range();
  clock.advance(30000);
  retry_unknown_range();
  EXPECT_EQ(desk().calls_of("gain_range").size(), 2u);
  clock.advance(30000);
  retry_unknown_range();
  EXPECT_EQ(desk().calls_of("gain_range").size(), 3u);
}

TEST_F(ChannelModel, PortLimits) {
  set_port_input_limit(port_index("A"), 16);
  EXPECT_TRUE(input_within_port("A", 16));
  EXPECT_FALSE(input_within_port("a", 17));
  EXPECT_TRUE(input_within_port("B", 200)) << "unknown limit";
  EXPECT_TRUE(input_within_port("LCL", 200)) << "not a port";
  set_port_input_limit(port_index("SC"), 0);
  EXPECT_FALSE(input_within_port("SC", 1));
}

TEST_F(ChannelModel, GangsAreLoggedOncePerChange) {
  settings().watch.store(8);
  channel_store(0, make_record("LCL", 5));
  channel_store(3, make_record("lcl", 5));
  channel_store(4, make_record("LCL", 6));
  channel_store(5, make_record("A", 5));
  channel_store(6, make_record("LCL", 5, false));  // no head amp: not part of the gang
  set_patch_read(0);
  gangs_rebuild();
  EXPECT_EQ(host().lines_with("[gang]"),
            std::vector<std::string>{"[gang] LCL 5 drives 2 LV1 channel(s): 1(LCL 5), 4(lcl 5)"});
  gangs_rebuild();
  EXPECT_EQ(host().lines_with("[gang]").size(), 1u);
  channel_store(4, make_record("LCL", 5));
  gangs_rebuild();
  EXPECT_EQ(host().lines_with("[gang]").size(), 2u);
  EXPECT_TRUE(host().logged("[gang] LCL 5 drives 3 LV1 channel(s): 1(LCL 5), 4(lcl 5), 5(LCL 5)"));
  EXPECT_EQ(channel_for_input("Lcl", 5), 0);
  EXPECT_EQ(channel_for_input("LCL", 9), -1);
}

TEST_F(ChannelModel, AShrinkingWatchCountClearsTheChannelsLeftOut) {
  channel_store(2, make_record("LCL", 3));
  channel_store(10, make_record("LCL", 3));
  channel_store(40, make_record("A", 1));
  set_patch_read(0);
  gangs_rebuild();
  ASSERT_TRUE(module_has_preamp(40));
  settings().watch.store(8);
  EXPECT_TRUE(channel_model_watch_shrunk(64, 8));
  EXPECT_FALSE(module_has_preamp(40));
  EXPECT_FALSE(module_has_preamp(10));
  EXPECT_TRUE(module_has_preamp(2));
  EXPECT_EQ(channel_record(10).input, 0u);
  EXPECT_FALSE(channel_model_watch_shrunk(8, 8)) << "nothing left to clear";
}

}  // namespace
}  // namespace ks
