// Level meters and clip tracking: the scale and colours as tables, the bars and ticks drawn,
// clip latching over a stepped sequence and the signal scan's throttle.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tray/ui/meters.h"
#include "tray/ui/recording_canvas.h"
#include "tray/ui/tests/support/bridge_fixture.h"

namespace ks::tray {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Meters, FractionAndColourAtTheEdges) {
  struct Case {
    double db, fraction;
    Argb level, peak;
  } cases[] = {
      {-144.0, 0.0, meter_colour::green, meter_colour::muted},
      {-60.0, 0.0, meter_colour::green, meter_colour::muted},
      {-30.0, 0.5, meter_colour::green, meter_colour::muted},
      {-6.0, 0.9, meter_colour::green, meter_colour::muted},
      {-5.9, 54.1 / 60, meter_colour::amber, meter_colour::amber},
      {-1.0, 59.0 / 60, meter_colour::amber, meter_colour::amber},
      {-0.9, 59.1 / 60, meter_colour::red, meter_colour::red},
      {0.0, 1.0, meter_colour::red, meter_colour::red},
      {20.0, 1.0, meter_colour::red, meter_colour::red},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.db);
    EXPECT_NEAR(meter_fraction(c.db), c.fraction, 1e-9);
    EXPECT_EQ(level_colour(c.db), c.level);
    EXPECT_EQ(peak_colour(c.db), c.peak);
  }
  EXPECT_EQ(meter_fraction(kNaN), 0.0);
}

// The bar drawn for one level, or a negative width when none is drawn.
float bar_width(double level) {
  test::BridgeFixture f;
  f.b().level_db[0] = level;
  f.b().peak_db[0] = kNoLevelDb;
  RecordingCanvas g;
  ClipHistory h;
  draw_channel_meter(g, &f.b(), h, 0, 10, 20, 120, 5);
  for (const DrawOp& op : g.ops)
    if (op.kind == DrawOp::k_round_fill && op.h == 5) return op.w;
  return -1;
}

TEST(Meters, LevelBarFollowsTheFormula) {
  EXPECT_LT(bar_width(-60.0), 0);   // exactly -60 is empty
  EXPECT_LT(bar_width(-144.0), 0);  // no value
  EXPECT_LT(bar_width(kNaN), 0);    // not a number is no value
  EXPECT_GT(bar_width(-59.9), 0);
  // -0.5 dB: the formula gives 59.5 / 60 of the width, not quite full.
  EXPECT_NEAR(bar_width(-0.5), 120 * 59.5 / 60, 1e-4);
  // Beyond +20 dB is held at +20: a full bar, never wider.
  EXPECT_FLOAT_EQ(bar_width(1e300), 120);
}

TEST(Meters, PeakTickStaysInsideTheMeterAndClipMarkShowsTheLatch) {
  test::BridgeFixture f;
  f.b().level_db[0] = -30;
  f.b().peak_db[0] = 0;  // at the right edge: kept at x + w - 2
  RecordingCanvas g;
  ClipHistory h;
  h.latch[0] = 1;
  draw_channel_meter(g, &f.b(), h, 0, 10, 20, 120, 5);
  ASSERT_EQ(g.ops.size(), 3u);
  EXPECT_FLOAT_EQ(g.ops[1].x, 10 + 120 - 2);
  EXPECT_FLOAT_EQ(g.ops[1].h, 7);
  EXPECT_EQ(g.ops[1].colour, meter_colour::red);
  EXPECT_FLOAT_EQ(g.ops[2].x, 10 + 120 - 4);  // the clip mark
  EXPECT_FLOAT_EQ(g.ops[2].h, 9);
  // A peak below the level draws no tick.
  f.b().peak_db[0] = -40;
  RecordingCanvas g2;
  draw_channel_meter(g2, &f.b(), ClipHistory{}, 0, 10, 20, 120, 5);
  EXPECT_EQ(g2.ops.size(), 1u);
}

TEST(ClipTracking, SteppedSequenceCountsRisingEdges) {
  test::BridgeFixture f;
  ClipHistory h;
  // Channel 1's flag over six ticks: a held clip, a release, a second clip.
  const uint8_t steps[] = {0, 1, 1, 1, 0, 1};
  const uint32_t overloads[] = {0, 1, 1, 1, 1, 2};
  for (size_t i = 0; i < 6; ++i) {
    f.b().clip[1] = steps[i];
    track_clips(h, &f.b());
    EXPECT_EQ(h.overloads, overloads[i]) << "tick " << i;
    EXPECT_EQ(h.clipped_channels, i >= 1 ? 1u : 0u) << "tick " << i;
  }
  EXPECT_EQ(h.latch[1], 1);
  clear_clip_history(h);
  EXPECT_EQ(h.latch[1], 0);
  EXPECT_EQ(h.clipped_channels, 0u);
  EXPECT_EQ(h.loudest_channel, -1);
}

TEST(ClipTracking, OnlyLiveMetersOfTheRightMagicAndWatchCountBounds) {
  test::BridgeFixture f;
  f.b().clip[40] = 1;  // beyond the 8 watched channels
  ClipHistory h;
  track_clips(h, &f.b());
  EXPECT_EQ(h.overloads, 0u);
  f.b().watch_count = 0;  // outside 1-64: all 64
  track_clips(h, &f.b());
  EXPECT_EQ(h.overloads, 1u);
  f.b().clip[41] = 1;
  f.b().meters_live = 0;
  track_clips(h, &f.b());
  EXPECT_EQ(h.overloads, 1u);
  f.b().meters_live = 1;
  f.b().magic = 0;
  track_clips(h, &f.b());
  EXPECT_EQ(h.overloads, 1u);
  track_clips(h, nullptr);
  EXPECT_EQ(h.overloads, 1u);
}

TEST(ClipTracking, LoudestIsAHeadAmpChannelWithAPeakThatIsANumber) {
  test::BridgeFixture f;
  f.patch(2, "USB", 1, false);
  f.b().peak_db[2] = -1;    // loudest, but no head amp
  f.b().peak_db[3] = kNaN;  // not a number
  f.b().peak_db[5] = -12;
  f.b().peak_db[6] = -20;
  ClipHistory h;
  track_clips(h, &f.b());
  EXPECT_EQ(h.loudest_channel, 5);
  EXPECT_DOUBLE_EQ(h.loudest_peak_db, -12);
  f.b().peak_db[6] = 500;  // out of range: held at +20
  track_clips(h, &f.b());
  EXPECT_EQ(h.loudest_channel, 6);
  EXPECT_DOUBLE_EQ(h.loudest_peak_db, 20);
}

TEST(SignalScan, ThrottledToHalfASecondAndFirstWinsATie) {
  test::BridgeFixture f;
  f.b().level_db[1] = -20;
  f.b().level_db[3] = -20;
  f.b().level_db[4] = -60;  // exactly -60 is not signal
  f.b().level_db[5] = kNaN;
  SignalSummary s;
  scan_signal(s, &f.b(), 8, 1000);
  EXPECT_EQ(s.mask, (1u << 1) | (1u << 3));
  EXPECT_EQ(s.loudest_channel, 1);
  f.b().level_db[6] = -3;
  scan_signal(s, &f.b(), 8, 1499);  // too soon: unchanged
  EXPECT_EQ(s.loudest_channel, 1);
  scan_signal(s, &f.b(), 8, 1500);
  EXPECT_EQ(s.loudest_channel, 6);
  scan_signal(s, &f.b(), 0, 2000);
  EXPECT_EQ(s.mask, 0u);
  EXPECT_EQ(s.loudest_channel, -1);
}

TEST(MeterOverlay, DimmedEntriesGetTheVeilAndTheOverallMeterTakesTheLoudest) {
  test::BridgeFixture f;
  f.b().level_db[2] = -12;
  f.b().level_db[7] = -3;
  ClipHistory h;
  RecordingCanvas g;
  draw_meter_overlay(g, {{0, 0, 100, 4, 2, 1}, {0, 10, 60, 4, -1, 0}}, &f.b(), h, 8);
  ASSERT_EQ(g.ops.size(), 3u);
  EXPECT_EQ(g.ops[1].colour, meter_colour::veil);
  EXPECT_EQ(g.ops[2].colour, meter_colour::amber);  // -3 dB, the loudest of the eight
  EXPECT_NEAR(g.ops[2].w, 60 * 57.0 / 60, 1e-4);
}

}  // namespace
}  // namespace ks::tray
