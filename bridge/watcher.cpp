// The watcher thread and its pass. The pass runs its steps in a fixed order; each step lives in
// the watcher file named for it (watcher_steps.h).
#include "bridge/watcher.h"

#include <atomic>
#include <cmath>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/lv1_notify.h"
#include "bridge/session_recall.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "bridge/watcher_steps.h"

namespace ks {

namespace {

constexpr std::uint32_t kPassMs = 20;
constexpr std::uint32_t kIdleMs = 200;

std::atomic<bool> g_answering{false};
// Set while the desk is not answering and until the desk-back decision has been applied: what
// the desk says then (replies it held through a freeze, among them) reaches neither LV1 nor the
// replay.
std::atomic<bool> g_desk_values_held{false};

}  // namespace

const DeskDriver* driver() { return desk_driver(); }

bool stopping() { return stop_requested(); }

int watched() {
  int n = watch_count();
  return n < 0 ? 0 : n > 64 ? 64 : n;
}

bool desk_values_held() { return g_desk_values_held.load(); }

bool read_gain_of(const ChannelView& v, double* db) {
  const DeskDriver* d = driver();
  if (!d || !d->read_gain) return false;
  double x = 0;
  if (!d->read_gain(v.bank, static_cast<std::int32_t>(v.gain_input), &x) || !std::isfinite(x))
    return false;
  *db = x;
  return true;
}

bool read_phantom_of(const ChannelView& v, bool* on) {
  const DeskDriver* d = driver();
  if (!d || !d->read_phantom) return false;
  std::uint8_t x = 0;
  if (!d->read_phantom(v.bank, static_cast<std::int32_t>(v.input), &x)) return false;
  *on = x != 0;
  return true;
}

void watcher_begin(WatcherState& w) {
  w = WatcherState{};
  read_all();
  Tick now = clock_now();
  w.names_tick = w.stereo_tick = w.range_retry_tick = w.bank_range_tick = w.patch_tick = now;
  w.publish_tick = now - kPublishMs;  // publish at the first pass
}

void watcher_pass(WatcherState& w) {
  WatcherFlags& f = watcher_flags();
  desk_switch();
  config_reload_live();

  Tick now = clock_now();
  bool alive = !watcher_desk_dropped() && desk_link_alive();
  bool was_answering = w.edge.answering(now);
  bool back = w.edge.pass(now, alive);
  g_answering.store(desk_chosen() && w.edge.answering(now));
  if (w.edge.ever_alive() && !w.edge.answering(now) && !g_desk_values_held.exchange(true))
    log_info(
        "[sync] the desk is not answering - its values are held back until the desk-back decision");

  if (!alive) {
    want(f.reseed_wanted);
    if (was_answering) set_identity_check_pending(true);
  } else if (identity_recheck()) {
    back = false;  // another console: nothing is replayed to it
  } else {
    if (f.seed_retry_armed.load() && tick_reached(now, f.seed_retry_at.load())) {
      f.seed_retry_armed.store(0);
      want(f.reseed_wanted);
    }
    // The pass in which the desk comes back applies the desk-back decision first (LV1's values
    // replayed, or the desk's re-read as first values); the sweep waits for the next pass.
    if (patch_is_read() && !back && take(f.reseed_wanted)) seeding_sweep(w, now);
    if (back || g_desk_values_held.load()) {
      // Whatever the desk pushed since it stopped answering waits for nobody: the decision
      // below sends LV1's values or reads the desk's afresh.
      mailbox_invalidate_all();
    } else {
      send_deferred_writes();
      drain_mailboxes(w, clock_now());
    }
    scheduled_bank_range_read(w, now);
  }
  if (stopping()) return;

  if (back) {
    desk_back(w);
    if (g_desk_values_held.exchange(false)) log_info("[sync] desk values are taken again");
  }
  now = clock_now();
  caps_notice(w, now);
  channel_bits();
  if (stopping()) return;
  scheduled_patch_read(w, now);
  revalidate(w);
  scheduled_names_read(w, clock_now());
  run_control_op();
  now = clock_now();
  scheduled_stereo_check(w, now);
  scheduled_range_retry(w, now);
  scheduled_publish(w, now);
}

void lv1_watcher_thread() {
  while (!desk_chosen()) {
    if (wait_stop(kIdleMs) || stopping()) return;
  }
  const DeskDriver* d = driver();
  log_info("[bridge] %s -> LV1 watcher started (push-driven, ch 1..%d)",
           d && d->model_name ? d->model_name : "desk", watched());
  auto* w = new WatcherState;
  watcher_begin(*w);
  while (!stopping() && desk_chosen()) {
    watcher_pass(*w);
    if (wait_stop(kPassMs) || stopping()) break;
  }
  delete w;
  g_answering.store(false);
  g_desk_values_held.store(false);
}

bool watcher_desk_answering() { return g_answering.load(); }

void install_watcher_hooks() {
  FrameworkHooks& h = framework_hooks();
  h.lv1_watcher_thread = lv1_watcher_thread;
  h.status_publish = [] { status_block_publish(); };
  h.status_close = status_block_close;
  h.desk_taken = status_desk_taken;
  h.desk_event = on_desk_event;
  h.session_recall = session_recall;
  h.control_op_waiting = control_op_waiting;
  h.notify_channel_types = notify_channel_types;
}

void watcher_reset() {
  watcher_desk_reset();
  g_answering.store(false);
  g_desk_values_held.store(false);
  mailbox_reset_all();
  watcher_flags_reset();
}

}  // namespace ks
