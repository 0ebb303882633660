// The desk's values on their way to LV1: what the mailboxes hold, the values held in the echo
// window once it has passed, and the reporting rules every desk value goes through. The status
// block keeps the last known value either way.
#include <cmath>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/status_block.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_mailbox.h"
#include "bridge/watcher_steps.h"

namespace ks {

namespace {

void phantom_alarm(int ch) {
  if (!patch_is_read()) return;
  ChannelView v = channel_view(ch);
  if (protect_list_contains(v.bank, v.input))
    log_info(
        "[48V] ALARM: %s %d is PROTECTED but now reads 48V ON - switched at the desk, not by Kestrune (LV1 in %d)",
        v.bank, static_cast<int>(v.input), ch + 1);
}

void set_mute_bit(int ch, MuteKind kind, bool muted) {
  ChannelRecord rec = channel_record(ch);
  std::uint8_t bit = kind == kMuteByDollarMute ? kMutedByDollarMute : kMutedByMute;
  std::uint8_t bits = muted ? (rec.mute_bits | bit) : (rec.mute_bits & ~bit);
  if (bits == rec.mute_bits) return;
  rec.mute_bits = bits;
  channel_store(ch, rec);
}

void park_gain(int ch, double db) {
  if (!std::isfinite(db)) return;
  ChannelRecord rec = channel_record(ch);
  rec.parked_gain = db;
  rec.parked_valid = 1;
  channel_store(ch, rec);
}

}  // namespace

// LV1's threads write the same fields through the value writer: one atomic access each.
void publish_gain(int ch, double db) {
  if (StatusBlock* b = status_block()) __atomic_store(&b->gain_db[ch], &db, __ATOMIC_RELAXED);
}
void publish_phantom(int ch, bool on) {
  if (StatusBlock* b = status_block())
    __atomic_store_n(&b->phantom[ch], std::uint8_t(on ? 1 : 0), __ATOMIC_RELAXED);
}

void drain_mailboxes(WatcherState& w, Tick now) {
  int n = watched();
  for (int ch = 0; ch < n && !stopping(); ++ch) {
    MailboxTake t;
    if (mailbox_take(ch, &w.last_count[ch], &t)) {
      if (t.has_own_gain) park_gain(ch, t.own_gain);
      if (t.has_gain) report_desk_gain(w, ch, t.gain);
      if (t.has_phantom) report_desk_phantom(w, ch, t.phantom);
      if (t.has_mute) set_mute_bit(ch, t.mute_kind, t.muted);
    }
    // A value held inside the echo window is reported once the window has passed.
    OwnWrite ow = own_write(ch);
    double db = 0;
    if (due_gain(w.report[ch], now, ow, &db) && !gain_deferred(ch, nullptr))
      host_report(lv1_context(), ch, db, true, false, false, false);
    bool on = false;
    if (due_phantom(w.report[ch], now, ow, &on) && !phantom_deferred(ch, nullptr)) {
      host_report(lv1_context(), ch, 0.0, false, on, true, false);
      log_detail("[bridge] desk 48V ch=%d -> %d", ch, on ? 1 : 0);
      if (on) phantom_alarm(ch);
    }
  }
}

void report_desk_gain(WatcherState& w, int ch, double db) {
  if (ch < 0 || ch > 63 || !std::isfinite(db)) return;
  // LV1's own value is on its way to the desk: what the desk had before it is not news for LV1.
  if (gain_deferred(ch, nullptr)) return;
  publish_gain(ch, db);
  ReportVerdict v = offer_gain(w.report[ch], db, clock_now(), own_write(ch));
  // Stop may run on LV1's own thread: no call into LV1 once it has been asked for.
  if (!is_reported(v) || stopping()) return;
  host_report(lv1_context(), ch, db, true, false, false, false);
  if (v == ReportVerdict::first)
    log_detail("[bridge] startup: ch=%d seeded from desk at %.1f dB", ch, db);
}

void report_desk_phantom(WatcherState& w, int ch, bool on) {
  if (ch < 0 || ch > 63) return;
  if (phantom_deferred(ch, nullptr)) return;
  publish_phantom(ch, on);
  ReportVerdict v = offer_phantom(w.report[ch], on, clock_now(), own_write(ch));
  if (!is_reported(v) || stopping()) return;
  host_report(lv1_context(), ch, 0.0, false, on, true, false);
  if (v == ReportVerdict::first) {
    log_detail("[bridge] startup: ch=%d 48V seeded from desk = %d", ch, on ? 1 : 0);
    return;
  }
  log_detail("[bridge] desk 48V ch=%d -> %d", ch, on ? 1 : 0);
  if (on) phantom_alarm(ch);
}

}  // namespace ks
