// The desk answers again after a loss: the setting `resync` says who wins. LV1's values are
// replayed to the desk, or the desk's are taken afresh by the next seeding sweep.
#include <cmath>

#include "bridge/channel_model.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_steps.h"
#include "shared/gain_object.h"

namespace ks {

namespace {

void replay_to_desk() {
  GainObject* g = lv1_context();
  if (!g) return;
  if (!patch_is_read()) {
    log_info("[sync] no patch yet - not replaying to the desk");
    return;
  }
  set_replay_running(true);
  int sent = 0, with48 = 0, unknown = 0;
  int n = watched();
  for (int ch = 0; ch < n && !stopping(); ++ch) {
    if (!channel_has_head_amp(ch)) continue;
    if (!is_seeded(ch)) {
      ++unknown;
      continue;
    }
    double db = gain_object_gain(*g, static_cast<std::uint32_t>(ch));
    bool on = gain_object_phantom(*g, static_cast<std::uint32_t>(ch));
    if (std::isfinite(db)) bridge_set_gain(ch, db);
    bridge_set_phantom(ch, on);
    ++sent;
    if (on) ++with48;
  }
  set_replay_running(false);
  log_info("[sync] replayed %d channel(s) to the desk (%d with 48V, %d skipped as unknown)", sent,
           with48, unknown);
}

}  // namespace

void desk_back(WatcherState& w) {
  read_all();
  if (settings().resync_lv1.load()) {
    log_info("[sync] desk back - LV1 is the source of truth");
    replay_to_desk();
    return;
  }
  log_info("[sync] desk back - desk is the source of truth, re-seeding LV1");
  if (int dropped = drop_deferred_writes())
    log_info("[sync] %d deferred LV1 value(s) not sent - the desk's values are taken instead",
             dropped);
  want(watcher_flags().reseed_wanted);
  for (ChannelReportState& r : w.report) forget_reports(r);
}

}  // namespace ks
