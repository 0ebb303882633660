#include "loader/value_rules.h"

#include <gtest/gtest.h>

#include <limits>

namespace ks {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(GainSet, Decisions) {
  struct Case {
    int ch;
    double db, cached;
    bool live;
    SetDecision want;
  } cases[] = {
      {0, 10.0, 0.0, true, SetDecision::kStore},
      {63, 10.0, 0.0, true, SetDecision::kStore},
      {-1, 10.0, 0.0, true, SetDecision::kIgnore},
      {64, 10.0, 0.0, true, SetDecision::kIgnore},
      {0, 10.0, 0.0, false, SetDecision::kNotLive},
      {0, 10.005, 10.0, true, SetDecision::kSame},
      {0, 10.0, 10.0, true, SetDecision::kSame},
      {0, -9.991, -10.0, true, SetDecision::kSame},
      // Exactly 0.01 dB apart is a move, though the binary difference is a hair under 0.01.
      {0, 10.01, 10.0, true, SetDecision::kStore},
      {0, 45.01, 45.0, true, SetDecision::kStore},
      {0, 45.0, 45.01, true, SetDecision::kStore},
      {0, -0.01, 0.0, true, SetDecision::kStore},
      {0, kNaN, 0.0, true, SetDecision::kNotFinite},
      {0, kInf, 0.0, true, SetDecision::kNotFinite},
      {0, -kInf, 0.0, false, SetDecision::kNotFinite},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decide_gain_set(c.ch, c.db, c.cached, c.live), c.want)
        << c.ch << " " << c.db << " " << c.cached;
}

TEST(PhantomSet, Decisions) {
  struct Case {
    std::uint32_t ch;
    bool on, cached, live;
    SetDecision want;
  } cases[] = {
      {0, true, false, true, SetDecision::kStore},
      {63, true, false, true, SetDecision::kStore},
      {0, true, true, true, SetDecision::kSame},
      {0, false, false, true, SetDecision::kSame},
      {0, false, true, true, SetDecision::kStore},
      {0, true, false, false, SetDecision::kNotLive},
      {64, true, false, true, SetDecision::kIgnore},
      {0xFFFFFFFFu, true, false, true, SetDecision::kIgnore},
      {64, true, false, false, SetDecision::kIgnore},  // outside the channels, not even a line
  };
  for (const Case& c : cases)
    EXPECT_EQ(decide_phantom_set(c.ch, c.on, c.cached, c.live), c.want)
        << c.ch << " " << c.on << " " << c.cached;
}

TEST(RangeQueries, DefaultsAndCache) {
  EXPECT_EQ(range_default(RangeKind::kMin), 0.0);
  EXPECT_EQ(range_default(RangeKind::kMax), 60.0);
  EXPECT_EQ(range_default(RangeKind::kStep), 0.5);
  // Never asked (0.0 in the cache).
  EXPECT_EQ(range_from_cache(RangeKind::kMin, 0.0), 0.0);
  EXPECT_EQ(range_from_cache(RangeKind::kMax, 0.0), 60.0);
  EXPECT_EQ(range_from_cache(RangeKind::kStep, 0.0), 0.5);
  // A module's earlier answers.
  EXPECT_EQ(range_from_cache(RangeKind::kMin, -6.0), -6.0);
  EXPECT_EQ(range_from_cache(RangeKind::kMax, 54.0), 54.0);
  EXPECT_EQ(range_from_cache(RangeKind::kStep, 1.0), 1.0);
  EXPECT_FALSE(range_answer_usable(kNaN));
  EXPECT_FALSE(range_answer_usable(kInf));
  EXPECT_TRUE(range_answer_usable(-6.0));
}

TEST(DeskReports, WhatReachesLv1) {
  EXPECT_TRUE(report_gain_passes(0.0, 12.5, false));
  EXPECT_FALSE(report_gain_passes(12.5, 12.5, false));
  EXPECT_TRUE(report_gain_passes(12.5, 12.5, true));  // forced
  EXPECT_FALSE(report_gain_passes(0.0, kNaN, true));  // never, not even forced
  EXPECT_FALSE(report_gain_passes(0.0, -kInf, false));
  EXPECT_TRUE(report_phantom_passes(false, true, false));
  EXPECT_FALSE(report_phantom_passes(true, true, false));
  EXPECT_TRUE(report_phantom_passes(true, true, true));
}

}  // namespace
}  // namespace ks
