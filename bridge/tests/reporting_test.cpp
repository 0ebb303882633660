#include "bridge/reporting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace ks {
namespace {

using V = ReportVerdict;

// One step of a channel's story: at `at` ms the module writes (write) or the desk gives a gain.
struct Step {
  std::uint32_t at;
  bool write;  // the module writes the channel at this tick
  double db;   // otherwise: the desk value offered
  V expect;
};

struct GainCase {
  const char* name;
  std::uint32_t start;  // tick origin, to cover the 32-bit wrap
  std::vector<Step> steps;
};

class GainRules : public ::testing::TestWithParam<GainCase> {};

TEST_P(GainRules, Table) {
  const GainCase& c = GetParam();
  ChannelReportState s;
  OwnWrite w;
  for (const Step& st : c.steps) {
    std::uint32_t now = c.start + st.at;
    if (st.write) {
      w = {true, now};
      continue;
    }
    EXPECT_EQ(offer_gain(s, st.db, now, w), st.expect) << c.name << " at " << st.at;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reporting, GainRules,
    ::testing::Values(
        GainCase{"first value always, even 10 ms after a write",
                 1000,
                 {{0, true, 0, V::first}, {10, false, 12.0, V::first}}},
        GainCase{
            "push 100 ms after a write is held",
            1000,
            {{0, false, 5.0, V::first}, {100, true, 0, V::first}, {200, false, 8.0, V::deferred}}},
        GainCase{
            "push 300 ms after a write is reported",
            1000,
            {{0, false, 5.0, V::first}, {100, true, 0, V::first}, {400, false, 8.0, V::report}}},
        GainCase{"exactly 250 ms is still inside the window",
                 1000,
                 {{0, false, 5.0, V::first},
                  {100, true, 0, V::first},
                  {350, false, 8.0, V::deferred},
                  {351, false, 8.0, V::report}}},
        GainCase{"moves under 0.01 dB are dropped",
                 1000,
                 {{0, false, 5.0, V::first},
                  {10, false, 5.004, V::dropped},
                  {20, false, 5.009, V::dropped},
                  {30, false, 5.01, V::report},
                  {40, false, 5.0, V::report}}},
        GainCase{
            "no write at all: every move counts",
            0,
            {{0, false, -3.0, V::first}, {1, false, 4.0, V::report}, {2, false, 4.0, V::dropped}}},
        GainCase{"window measured across the tick wrap",
                 0xFFFFFF00u,
                 {{0, false, 1.0, V::first},
                  {0xF0, true, 0, V::first},
                  {0x100, false, 2.0, V::deferred},
                  {0x200, false, 2.0, V::report}}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Reporting, HeldGainIsReportedOnceTheWindowPasses) {
  ChannelReportState s;
  OwnWrite w{true, 1000};
  ASSERT_EQ(offer_gain(s, 0.0, 900, {}), V::first);
  ASSERT_EQ(offer_gain(s, 20.0, 1100, w), V::deferred);
  ASSERT_EQ(offer_gain(s, 22.5, 1150, w), V::deferred);  // the newer move replaces the held one
  double db = 0;
  EXPECT_FALSE(due_gain(s, 1200, w, &db));  // still inside the window
  ASSERT_TRUE(due_gain(s, 1251, w, &db));
  EXPECT_DOUBLE_EQ(db, 22.5);
  EXPECT_DOUBLE_EQ(s.last_gain, 22.5);
  EXPECT_FALSE(due_gain(s, 1300, w, &db));  // reported once only
}

TEST(Reporting, HeldGainSupersededByALaterWriteIsDropped) {
  ChannelReportState s;
  ASSERT_EQ(offer_gain(s, 0.0, 900, {}), V::first);
  ASSERT_EQ(offer_gain(s, 10.0, 1100, {true, 1000}), V::deferred);  // the echo of LV1's 10 dB
  OwnWrite later{true, 1200};  // LV1 moved on to 12 dB; the desk has that now
  double db = 0;
  EXPECT_FALSE(due_gain(s, 1500, later, &db));
  EXPECT_FALSE(s.gain_pending);
  EXPECT_DOUBLE_EQ(s.last_gain, 0.0);
}

TEST(Reporting, HeldGainThatDidNotMoveIsNotReported) {
  ChannelReportState s;
  ASSERT_EQ(offer_gain(s, 7.0, 900, {}), V::first);
  ASSERT_EQ(offer_gain(s, 7.005, 1100, {true, 1000}), V::deferred);
  double db = 0;
  EXPECT_FALSE(due_gain(s, 1300, {true, 1000}, &db));
  EXPECT_FALSE(s.gain_pending);
}

TEST(Reporting, NonFiniteGainNeverReported) {
  ChannelReportState s;
  EXPECT_EQ(offer_gain(s, std::numeric_limits<double>::quiet_NaN(), 0, {}), V::dropped);
  EXPECT_EQ(offer_gain(s, std::numeric_limits<double>::infinity(), 0, {}), V::dropped);
  EXPECT_FALSE(s.gain_reported);
  EXPECT_EQ(offer_gain(s, 3.0, 0, {}), V::first);
}

TEST(Reporting, PhantomFirstValueThenChangesOutsideTheWindow) {
  ChannelReportState s;
  OwnWrite w{true, 500};
  EXPECT_EQ(offer_phantom(s, false, 510, w), V::first);
  EXPECT_EQ(offer_phantom(s, false, 900, w), V::dropped);
  EXPECT_EQ(offer_phantom(s, true, 900, w), V::report);
  EXPECT_TRUE(s.last_phantom);
  OwnWrite w2{true, 1000};
  EXPECT_EQ(offer_phantom(s, false, 1100, w2), V::deferred);
  bool on = true;
  EXPECT_FALSE(due_phantom(s, 1200, w2, &on));
  ASSERT_TRUE(due_phantom(s, 1300, w2, &on));
  EXPECT_FALSE(on);
  EXPECT_FALSE(s.last_phantom);
}

TEST(Reporting, ForgetMakesTheNextValueAFirstValue) {
  ChannelReportState s;
  ASSERT_EQ(offer_gain(s, 4.0, 0, {}), V::first);
  ASSERT_EQ(offer_phantom(s, true, 0, {}), V::first);
  forget_reports(s);
  OwnWrite just_now{true, 100};
  EXPECT_EQ(offer_gain(s, 4.0, 101, just_now), V::first);
  EXPECT_EQ(offer_phantom(s, true, 101, just_now), V::first);
}

}  // namespace
}  // namespace ks
