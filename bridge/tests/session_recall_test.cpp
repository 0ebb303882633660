// Preamp values from an LV1 session: held until the console has been read, applied once.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "bridge/session_recall.h"
#include "bridge/settings.h"
#include "bridge/tests/support/watcher_fixture.h"
#include "bridge/watcher_flags.h"

namespace ks {
namespace {

struct Session {
  double gain[64] = {};
  std::uint32_t phantom[64] = {};
  std::uint32_t preamp[64] = {};
  void recall() const { session_recall(gain, phantom, preamp); }
};

Session stored_session() {
  Session s;
  for (int ch = 0; ch < 64; ++ch) {
    s.gain[ch] = 30.0 + 0.5 * ch;
    s.preamp[ch] = 1;
  }
  s.phantom[1] = 1;
  s.preamp[2] = 0;  // no preamp stored: the desk keeps its own
  return s;
}

using SessionRecall = WatcherTest;

TEST_F(SessionRecall, RecalledBeforeTheDeskWasReadIsAppliedAfterTheFirstSweep) {
  stored_session().recall();
  EXPECT_TRUE(host().logged(
      "[recall] LV1 opened a session with Kestrune preamp values - held until the console has been read"));
  EXPECT_TRUE(sends("send_").empty());
  run_for(200);
  EXPECT_TRUE(sends("send_").empty());  // no sweep yet: still held
  want(watcher_flags().reseed_wanted);
  pass();
  EXPECT_TRUE(host().logged("[recall] session preamp values applied to the console: 7 channel(s)"));
  EXPECT_EQ(sends("send_gain LCL 1 30.00").size(), 1u);
  EXPECT_EQ(sends("send_gain LCL 8 33.50").size(), 1u);
  EXPECT_EQ(sends("send_phantom LCL 2 1").size(), 1u);
  EXPECT_TRUE(sends("send_gain LCL 3").empty());
  EXPECT_TRUE(sends("send_phantom LCL 3").empty());
  desk().clear_calls();
  want(watcher_flags().reseed_wanted);
  pass();
  EXPECT_TRUE(sends("send_").empty());  // applied once, not at every sweep
}

TEST_F(SessionRecall, RecalledWhileTheLinkIsDownWaitsForTheDesk) {
  seed_all();
  desk().set_link(false);
  pass();
  stored_session().recall();
  EXPECT_TRUE(host().logged("held until the console answers"));
  EXPECT_TRUE(host().logged(
      "[recall] the console is not answering - LV1's values are held until it is back"));
  EXPECT_TRUE(session_values_pending());
  run_for(7000);
  EXPECT_TRUE(sends("send_").empty());
  desk().set_link(true);
  run_for(100);
  EXPECT_EQ(sends("send_gain LCL 4 31.50").size(), 1u);
  EXPECT_FALSE(session_values_pending());
}

TEST_F(SessionRecall, AppliedAtOnceWhenTheDeskIsReady) {
  seed_all();
  stored_session().recall();
  EXPECT_TRUE(host().logged("- applying now"));
  EXPECT_EQ(sends("send_gain LCL 1 30.00").size(), 1u);
}

TEST_F(SessionRecall, OffKeepsNothing) {
  seed_all();
  settings().session_recall.store(false);
  stored_session().recall();
  EXPECT_TRUE(host().logged("not applied (session_recall=off)"));
  settings().session_recall.store(true);
  want(watcher_flags().reseed_wanted);
  pass();
  EXPECT_TRUE(sends("send_gain").empty());
  EXPECT_FALSE(session_values_pending());
}

TEST_F(SessionRecall, DamagedGainIsNeverApplied) {
  seed_all();
  Session s = stored_session();
  s.gain[0] = std::numeric_limits<double>::quiet_NaN();
  s.gain[5] = std::numeric_limits<double>::infinity();
  s.gain[6] = 1e12;
  s.gain[7] = -100.0;  // extreme but possible: kept
  s.recall();
  EXPECT_TRUE(sends("send_gain LCL 1").empty());
  EXPECT_TRUE(sends("send_gain LCL 6").empty());
  EXPECT_TRUE(sends("send_gain LCL 7").empty());
  EXPECT_EQ(sends("send_gain LCL 8").size(), 1u);
  EXPECT_EQ(sends("send_gain LCL 2 30.50").size(), 1u);
  EXPECT_TRUE(host().logged("3 channel(s) of the session had no usable gain"));
}

// LV1 loads a session on its thread while the watcher finishes a sweep on its own: the values
// reach the desk exactly once (run natively under ThreadSanitizer too).
TEST_F(SessionRecall, ConcurrentRecallAndPassApplyExactlyOnce) {
  for (int round = 0; round < 30; ++round) {
    desk().clear_calls();
    Session s = stored_session();
    for (double& g : s.gain) g += round;  // a value of its own each round
    watcher_flags().seeding_done.store(round == 0 ? 0 : 1);
    want(watcher_flags().reseed_wanted);
    std::thread lv1([&] { s.recall(); });
    pass();
    lv1.join();
    want(watcher_flags().reseed_wanted);
    pass();  // whichever side was late has had its chance
    char want_text[64];
    std::snprintf(want_text, sizeof want_text, "send_gain LCL 1 %.2f", 30.0 + round);
    EXPECT_EQ(sends(want_text).size(), 1u) << "round " << round;
  }
}

}  // namespace
}  // namespace ks
