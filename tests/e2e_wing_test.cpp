// End to end with a WING: the LV1 stand-in, the real Kestrune.dll, the signed Fellbrook from the
// loader's modules folder, and the simulated WING with its discovery answers on loopback. LV1 is
// seeded from the desk, values move both ways (a move beyond the desk's range lands on its top),
// the protected input's 48 V never reaches the desk, the status block shows the desk and its
// input levels, LV1's saved session carries the desk's values after Waves' text, a session LV1
// opens reaches the desk (never the protected input's 48 V), a stalled meter stream is subscribed
// again, and a desk that drops and returns is resynced the way `resync` says.
#include "tests/e2e/run_checks.h"

namespace ks::e2e {
namespace {

using R = DeskRunResult;

TEST(EndToEndWing, TheWholePathForEachResyncSetting) {
  expect_every_step(run_wing,
                    {&R::module_loaded, &R::desk_subscribed, &R::seeded_from_desk,
                     &R::gain_reached_desk, &R::clamped_at_desk, &R::phantom_reached_desk,
                     &R::protected_refused, &R::desk_gain_reached_lv1, &R::desk_phantom_reached_lv1,
                     &R::status_shows_desk, &R::meters_in_status, &R::meters_resubscribed,
                     &R::session_saved, &R::session_recalled, &R::resynced, &R::lv1_finished});
}

}  // namespace
}  // namespace ks::e2e
