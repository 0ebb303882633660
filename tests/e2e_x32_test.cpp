// End to end with an X32: the LV1 stand-in, the real Kestrune.dll, the signed Brannock from the
// loader's modules folder, and the simulated desk on loopback. LV1 is seeded from the desk,
// values move both ways, the protected input's 48 V never reaches the desk, the status block
// shows the desk, a desk that drops and returns is resynced the way `resync` says, a scene load
// is followed by a re-read, and the subscription is renewed before it lapses.
#include "tests/e2e/run_checks.h"

namespace ks::e2e {
namespace {

using R = DeskRunResult;

TEST(EndToEndX32, TheWholePathForEachResyncSetting) {
  expect_every_step(
      run_x32, {&R::module_loaded, &R::desk_subscribed, &R::seeded_from_desk, &R::gain_reached_desk,
                &R::clamped_at_desk, &R::phantom_reached_desk, &R::protected_refused,
                &R::desk_gain_reached_lv1, &R::desk_phantom_reached_lv1, &R::status_shows_desk,
                &R::resynced, &R::reread_after_scene_load, &R::xremote_renewed, &R::lv1_finished});
}

}  // namespace
}  // namespace ks::e2e
