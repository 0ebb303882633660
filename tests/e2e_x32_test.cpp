// End to end with an X32: the LV1 stand-in, the real Kestrune.dll, the signed Brannock from the
// loader's modules folder, and the simulated desk on loopback. LV1 is seeded from the desk,
// values move both ways, the protected input's 48 V never reaches the desk, the status block
// shows the desk, a desk that drops and returns is resynced the way `resync` says, a scene load
// is followed by a re-read, and the subscription is renewed before it lapses.
#include <gtest/gtest.h>

#include "tests/e2e/desk_run.h"

namespace ks::e2e {
namespace {

TEST(EndToEndX32, TheWholePathForEachResyncSetting) {
  for (bool resync_desk : {false, true}) {
    SCOPED_TRACE(resync_desk ? "resync=desk" : "resync=lv1");
    DeskRunOptions o;
    o.resync_desk = resync_desk;
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
    EXPECT_TRUE(r.status_shows_desk);
    EXPECT_TRUE(r.resynced);
    EXPECT_TRUE(r.reread_after_scene_load);
    EXPECT_TRUE(r.xremote_renewed);
    EXPECT_TRUE(r.lv1_finished);
    // The demo's verdict covers the same steps: none of them may be left out of it.
    EXPECT_TRUE(r.all_seen()) << ::testing::PrintToString(r.missing());
    if (::testing::Test::HasFailure())
      for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
  }
}

}  // namespace
}  // namespace ks::e2e
