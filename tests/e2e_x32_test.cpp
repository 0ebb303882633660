// End to end with an X32: the LV1 stand-in, the real Kestrune.dll, the signed Brannock from the
// loader's modules folder, and the simulated desk on loopback. Values move both ways, the
// protected input's 48 V never reaches the desk, a scene load is followed by a re-read, the
// subscription is renewed, and the status block shows the desk.
#include <gtest/gtest.h>

#include "tests/e2e/desk_run.h"

namespace ks::e2e {
namespace {

TEST(EndToEndX32, SeededFromTheDeskThenMovesTravelBothWays) {
  DeskRunOptions o;
  o.verbose = true;
  DeskRunResult r = run_x32(o);
  EXPECT_TRUE(r.module_loaded);
  EXPECT_TRUE(r.desk_subscribed);
  EXPECT_TRUE(r.seeded_from_desk);
  EXPECT_TRUE(r.gain_reached_desk);
  EXPECT_TRUE(r.clamped_at_desk);
  EXPECT_TRUE(r.phantom_reached_desk);
  EXPECT_TRUE(r.protected_refused);
  EXPECT_TRUE(r.desk_gain_reached_lv1);
  EXPECT_TRUE(r.desk_phantom_reached_lv1);
  EXPECT_TRUE(r.reread_after_scene_load);
  EXPECT_TRUE(r.xremote_renewed);
  EXPECT_TRUE(r.status_shows_desk);
  EXPECT_TRUE(r.lv1_finished);
  if (::testing::Test::HasFailure())
    for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
}

}  // namespace
}  // namespace ks::e2e
