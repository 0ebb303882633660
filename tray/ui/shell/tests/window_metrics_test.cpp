// Window size, placement, track limits, wheel scrolling, hit-testing and the state icon's bands.
#include <gtest/gtest.h>

#include <vector>

#include "tray/ui/shell/window_metrics.h"

namespace ks::tray {
namespace {

TEST(DashboardSize, IntegerArithmeticAtEachDpi) {
  struct Case {
    float design_w, content_h;
    int dpi;
    PxSize want;
  } cases[] = {
      {628, 0, 96, {628, 460}},      {628, 459.9f, 96, {628, 460}},  // below the floor
      {628, 700.9f, 96, {628, 700}},                                 // content truncated
      {627.5f, 500, 96, {628, 500}},                                 // width rounded half up
      {628, 460, 144, {942, 690}},   {628, 701, 120, {785, 876}},    // 701 x 120 / 96 = 876.25
      {540, 460, 0, {540, 460}},                                     // no DPI read: 96
  };
  for (const Case& c : cases)
    EXPECT_EQ(dashboard_client_size(c.design_w, c.content_h, c.dpi), c.want) << c.dpi;
}

TEST(DashboardPlacement, CentredThenPulledInsideRightBottomFirst) {
  const PxRect work{0, 0, 1024, 738};
  EXPECT_EQ(centre_in(work, 644, 500), (PxRect{190, 119, 834, 619}));
  // Taller than the work area: the top edge stays on it.
  EXPECT_EQ(centre_in(work, 644, 900), (PxRect{190, 0, 834, 900}));
  // Off the right and bottom: moved back in.
  EXPECT_EQ(pull_inside({900, 700, 1500, 1200}, work), (PxRect{424, 238, 1024, 738}));
  // Off the left and top of a second monitor's area.
  const PxRect second{1024, 0, 2048, 768};
  EXPECT_EQ(pull_inside({1000, -20, 1600, 480}, second), (PxRect{1024, 0, 1624, 500}));
  // Resizing keeps the centre.
  EXPECT_EQ(resize_about_centre({100, 100, 700, 600}, 600, 300, work),
            (PxRect{100, 200, 700, 500}));
}

TEST(DashboardPlacement, TrackLimits) {
  const PxRect work{0, 0, 1920, 1040};
  TrackLimits t = track_limits(96, {16, 39}, {644, 899}, &work);
  EXPECT_EQ(t.min, (PxSize{556, 320}));  // a 540-unit client plus the frame
  EXPECT_EQ(t.max, (PxSize{1920, 899}));
  t = track_limits(144, {16, 39}, {958, 300}, nullptr);
  EXPECT_EQ(t.min, (PxSize{826, 300}));  // never taller than the content asks
  EXPECT_EQ(t.max.w, 8192);              // no monitor information
}

TEST(DashboardPlacement, FitContent) {
  EXPECT_EQ(fit_action(600, 700, false), FitAction::grow);
  EXPECT_EQ(fit_action(600, 700, true), FitAction::grow);
  EXPECT_EQ(fit_action(600, 500, false), FitAction::keep);  // shrinks only when asked
  EXPECT_EQ(fit_action(600, 500, true), FitAction::shrink);
  EXPECT_EQ(fit_action(600, 600, true), FitAction::keep);
}

TEST(WheelScroll, TouchpadDeltasMoveAndTheTopStops) {
  struct Case {
    float offset;
    int delta;
    float want;
  } cases[] = {
      {100, -120, 148}, {100, 120, 52},  // one notch
      {100, -15, 106},  {100, 15, 94},   // a touchpad's small deltas still move
      {0, -1, 0.4f},                     // even the smallest
      {10, 120, 0},     {0, 240, 0},     // never above the top
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(wheel_scroll(c.offset, c.delta), c.want) << c.delta;
  // Eight touchpad events of 15 are one notch.
  float o = 200;
  for (int i = 0; i < 8; ++i) o = wheel_scroll(o, 15);
  EXPECT_FLOAT_EQ(o, 152);
}

TEST(DesignPoint, ScaledAndScrolledOnlyForTheBasePage) {
  DesignPoint p = design_point(150, 300, 144, 40, true);
  EXPECT_FLOAT_EQ(p.x, 100);
  EXPECT_FLOAT_EQ(p.y, 240);
  p = design_point(150, 300, 144, 40, false);  // a modal page: window coordinates
  EXPECT_FLOAT_EQ(p.y, 200);
}

TEST(HitTest, LastEnabledRegionWinsEdgesIncluded) {
  const std::vector<HitRegion> regions = {
      {0, 0, 100, 100, 1, 1},  // background card
      {10, 10, 20, 20, 2, 1},  // a button on it
      {10, 10, 20, 20, 3, 0},  // a disabled one painted over it: transparent
      {50, 50, 10, 10, 4, 1},
  };
  struct Case {
    float x, y;
    int32_t want;
  } cases[] = {
      {15, 15, 2}, {10, 10, 2}, {30, 30, 2},   {30.01f, 30, 1}, {55, 55, 4},
      {60, 60, 4}, {5, 5, 1},   {100, 100, 1}, {101, 50, 0},    {-1, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(hit_test(regions, c.x, c.y), c.want) << c.x << "," << c.y;
  EXPECT_EQ(hit_test({}, 0, 0), 0);
}

}  // namespace
}  // namespace ks::tray
