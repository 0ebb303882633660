#include "bridge/watcher.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/patch_reader.h"
#include "bridge/session_recall.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "shared/gain_object.h"

namespace ks {

namespace {

constexpr std::uint32_t kPassMs = 20;
constexpr std::uint32_t kIdleMs = 200;
constexpr std::uint32_t kPublishMs = 50;
constexpr std::uint32_t kPatchFirstMs = 2000;
constexpr std::uint32_t kPatchAgainMs = 30000;
constexpr std::uint32_t kNamesWantedMs = 3000;
constexpr std::uint32_t kNamesAnywayMs = 120000;
constexpr std::uint32_t kStereoMs = 10000;
constexpr std::uint32_t kRangeRetryMs = 20000;
constexpr std::uint32_t kBankRangeMs = 5000;
constexpr std::uint32_t kIdentityWaitMs = 800;

std::atomic<bool> g_answering{false};
// Set while the desk is not answering and until the desk-back decision has been applied: what
// the desk says then (replies it held through a freeze, among them) reaches neither LV1 nor the
// replay.
std::atomic<bool> g_desk_values_held{false};
// Set when the console at the desk's address turned out to be another one: nothing is read from
// or written to it until re-finding hands over the real desk.
std::atomic<bool> g_desk_dropped{false};

// The re-find hand-over: one answer, taken by the watcher.
std::mutex g_handover_lock;
bool g_handover_set = false;
DeskAnswer g_handover{};

PatchReads g_patch_reads = default_patch_reads();

const DeskDriver* driver() { return desk_driver(); }

bool read_all() { return g_patch_reads.read_all ? g_patch_reads.read_all() : true; }
int read_one(std::uint32_t ch) { return g_patch_reads.read_one ? g_patch_reads.read_one(ch) : 0; }
void read_mode_one(int ch) {
  if (g_patch_reads.read_mode_one) g_patch_reads.read_mode_one(ch);
}
void read_stereo() {
  if (g_patch_reads.read_stereo) g_patch_reads.read_stereo();
}
void read_names() {
  if (g_patch_reads.read_names) g_patch_reads.read_names();
}

bool stopping() { return stop_requested(); }

int watched() {
  int n = watch_count();
  return n < 0 ? 0 : n > 64 ? 64 : n;
}

// LV1's threads write the same fields through the value writer: one atomic access each.
void publish_gain(int ch, double db) {
  if (StatusBlock* b = status_block()) __atomic_store(&b->gain_db[ch], &db, __ATOMIC_RELAXED);
}
void publish_phantom(int ch, bool on) {
  if (StatusBlock* b = status_block()) __atomic_store_n(&b->phantom[ch], std::uint8_t(on ? 1 : 0), __ATOMIC_RELAXED);
}

bool take_handover(DeskAnswer* out) {
  std::lock_guard<std::mutex> hold(g_handover_lock);
  if (!g_handover_set) return false;
  *out = g_handover;
  g_handover_set = false;
  return true;
}

void phantom_alarm(int ch) {
  if (!patch_is_read()) return;
  ChannelView v = channel_view(ch);
  if (protect_list_contains(v.bank, v.input))
    log_info("[48V] ALARM: %s %d is PROTECTED but now reads 48V ON - switched at the desk, not by Kestrune (LV1 in %d)",
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

void set_mute_state(int ch, std::uint32_t state) {
  ChannelRecord rec = channel_record(ch);
  std::uint8_t bits = state == 1 ? kMutedByMute : state == 2 ? kMutedByDollarMute : 0;
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

// ---- step 1: desk switch ----------------------------------------------------------------------

void desk_switch() {
  DeskAnswer next;
  if (!take_handover(&next)) return;
  next.ip[sizeof next.ip - 1] = '\0';
  next.id[sizeof next.id - 1] = '\0';
  next.name[sizeof next.name - 1] = '\0';
  DeskIdentity old = desk_identity();
  if (!drop_desk()) {
    log_info("[refind] the old link to %s did not stop in time - NOT moving to %s until LV1 restarts", old.ip, next.ip);
    return;
  }
  const DeskDriver* d = driver();
  if (d && d->adopt) d->adopt(&next);
  use_desk(next);
  g_desk_dropped.store(false);
  AddressCheck a = status_address();
  if (std::strcmp(old.ip, next.ip) != 0) ++a.moves;
  a.state = 0;
  status_set_address(a);
}

// ---- step 3: identity re-check ----------------------------------------------------------------

// True when the desk was dropped because another console answers at its address.
bool identity_recheck() {
  if (!identity_check_pending()) return false;
  // Whatever follows, the flag is cleared in a pass with the link alive: left set, it would
  // refuse every write from LV1 for the rest of the session.
  set_identity_check_pending(false);
  DeskIdentity me = desk_identity();
  char console[40] = {};
  config_console(console);
  char target[40] = {};
  if (!desk_target_id(console, me.id, target, sizeof target)) return false;
  const DeskDriver* d = driver();
  if (!d || !d->discover) return false;
  DeskAnswer answers[8];
  std::memset(answers, 0, sizeof answers);
  std::int32_t n = d->discover(me.ip, answers, 8, kIdentityWaitMs);
  if (n < 0) n = 0;
  if (n > 8) n = 8;
  if (n == 0) {
    log_info("[refind] link back at %s; it did not say who it is (%s) - carrying on", me.ip, "no answer");
    return false;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    DeskAnswer& a = answers[i];
    a.ip[sizeof a.ip - 1] = a.name[sizeof a.name - 1] = a.model[sizeof a.model - 1] = a.id[sizeof a.id - 1] = '\0';
    if (iequals(a.id, target)) return false;  // the same console
  }
  const DeskAnswer& other = answers[0];
  log_info("[refind] ANOTHER console answers at %s now: %s %s, id %s - not %s (id %s). NOT driving it, nothing written; "
           "looking for %s at other addresses",
           me.ip, other.model, other.name, other.id, me.name, target, me.name);
  drop_desk();
  g_desk_dropped.store(true);
  mailbox_invalidate_all();
  AddressCheck a = status_address();
  a.state = 1;
  status_set_address(a);
  return true;
}

// ---- step 3: seeding sweep ----------------------------------------------------------------------

struct SweepTally {
  int tried = 0;
  int seeded = 0;
  int reseeded = 0;
  int failed[64];
  int failed_count = 0;
};

bool read_gain_of(const ChannelView& v, double* db) {
  const DeskDriver* d = driver();
  if (!d || !d->read_gain) return false;
  double x = 0;
  if (!d->read_gain(v.bank, static_cast<std::int32_t>(v.gain_input), &x) || !std::isfinite(x)) return false;
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

void seed_channel(WatcherState& w, int ch, bool reread, SweepTally& t) {
  const DeskDriver* d = driver();
  ChannelView v = channel_view(ch);
  if (d->read_mute) {
    std::uint32_t state = 0;
    if (d->read_mute(v.bank, static_cast<std::int32_t>(v.input), &state)) set_mute_state(ch, state);
  }
  ++t.tried;
  double db = 0;
  bool ok = read_gain_of(v, &db);
  if (w.skip.note_read(v.bank, ok)) log_info("[bridge] %s is not answering gain reads - skipping it this sweep", v.bank);
  if (ok) {
    mark_seeded(ch);
    bool was = w.report[ch].gain_reported;
    double before = w.report[ch].last_gain;
    report_desk_gain(w, ch, db);
    if (reread && was && w.report[ch].last_gain != before) ++t.reseeded;
    ++t.seeded;
  } else if (t.failed_count < 64) {
    t.failed[t.failed_count++] = ch;
  }
  bool on = false;
  if (read_phantom_of(v, &on)) report_desk_phantom(w, ch, on);
}

void seeding_sweep(WatcherState& w, Tick now) {
  WatcherFlags& f = watcher_flags();
  bool reread = take(f.reread_mode);
  w.skip.clear();
  SweepTally t;
  int n = watched();
  for (int ch = 0; ch < n; ++ch) {
    if (stopping() || !desk_link_alive()) break;
    ChannelView v = channel_view(ch);
    if (!v.has_head_amp || w.skip.skipped(v.bank)) continue;
    seed_channel(w, ch, reread, t);
  }
  if (reread) {
    f.reseeded_count.fetch_add(static_cast<std::uint32_t>(t.reseeded));
    if (t.reseeded)
      log_info("[bridge] a re-read found %d value(s) the desk had not reported - LV1 now shows the desk's", t.reseeded);
  } else if (t.seeded) {
    log_info("[bridge] seeded %d channel(s) from the desk", t.seeded);
  }
  f.seeding_done.store(1);
  apply_held_values();

  if (!reread && t.seeded >= 4 && desk_link_alive()) {
    for (int i = 0; i < t.failed_count && !stopping(); ++i) {
      int ch = t.failed[i];
      ChannelView v = channel_view(ch);
      if (w.skip.skipped(v.bank)) continue;
      double db = 0;
      if (read_gain_of(v, &db)) {
        mark_seeded(ch);
        report_desk_gain(w, ch, db);
        continue;
      }
      ChannelRecord rec = channel_record(ch);
      if (!rec.has_head_amp) continue;
      rec.has_head_amp = 0;
      channel_store(ch, rec);
      log_info("[bridge] %s %d has no head amp (no gain node) - LV1 in %d shown without preamp controls", v.bank,
               static_cast<int>(v.gain_input), ch + 1);
    }
  }

  // A desk that answers no gain read at all is asked again later, however its banks were
  // skipped: 2, 4, 8 ... 60 s apart.
  if (t.seeded == 0 && t.tried > 0 && desk_link_alive()) {
    std::uint32_t b = next_seed_backoff(f.seed_backoff_ms.load());
    f.seed_backoff_ms.store(b);
    f.seed_retry_at.store(now + b);
    f.seed_retry_armed.store(1);
    log_info("[bridge] no gain read answered (%d tried) - retrying in %lu s", t.tried,
             static_cast<unsigned long>(b / 1000));
  } else if (t.seeded > 0) {
    f.seed_backoff_ms.store(0);
  }
}

// ---- step 3: mailboxes ------------------------------------------------------------------------

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

// ---- step 4: desk back ------------------------------------------------------------------------

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
  log_info("[sync] replayed %d channel(s) to the desk (%d with 48V, %d skipped as unknown)", sent, with48, unknown);
}

void desk_back(WatcherState& w) {
  read_all();
  if (settings().resync_lv1.load()) {
    log_info("[sync] desk back - LV1 is the source of truth");
    replay_to_desk();
    return;
  }
  log_info("[sync] desk back - desk is the source of truth, re-seeding LV1");
  if (int dropped = drop_deferred_writes())
    log_info("[sync] %d deferred LV1 value(s) not sent - the desk's values are taken instead", dropped);
  want(watcher_flags().reseed_wanted);
  for (ChannelReportState& r : w.report) forget_reports(r);
}

// ---- steps 5 to 9 ------------------------------------------------------------------------------

void caps_notice(WatcherState& w, Tick now) {
  CapabilityQueries q = capability_queries();
  std::uint32_t growth = 0;
  if (!w.caps.look(now, q.count, &growth)) return;
  log_info("[caps] LV1 re-queried %ld capabilities, LV1 channels %ld..%ld - its channel model changed",
           static_cast<long>(growth), static_cast<long>(q.lowest) + 1, static_cast<long>(q.highest) + 1);
  reset_capability_extremes();
}

void channel_bits() {
  WatcherFlags& f = watcher_flags();
  int n = watched();
  std::uint64_t modes = mask_take(f.mode_bits);
  for (int ch = 0; ch < n && modes && !stopping(); ++ch)
    if (modes & (std::uint64_t(1) << ch)) read_mode_one(ch);

  std::uint64_t repatch = mask_take(f.repatch_bits);
  int done = 0;
  for (int ch = 0; ch < n && repatch && !stopping(); ++ch) {
    std::uint64_t bit = std::uint64_t(1) << ch;
    if (!(repatch & bit)) continue;
    repatch &= ~bit;
    if (read_one(static_cast<std::uint32_t>(ch)) < 0) {
      want(f.patch_wanted);
      // The rest of this 32-channel word waits for the full read.
      std::uint64_t word = ch < 32 ? 0xFFFFFFFFull : 0xFFFFFFFF00000000ull;
      repatch &= ~word;
      continue;
    }
    ++done;
  }
  if (done == 0) return;
  log_info("[patch] %d channel(s) re-patched (from a desk push)", done);
  want(f.reseed_wanted);
  want(f.names_wanted);
  notify_channel_types();
  for (int ch = 0; ch < n; ++ch) {
    ChannelView v = channel_view(ch);
    if (v.has_head_amp && v.bank[0]) read_bank_range(v.bank);
  }
}

void scheduled_patch_read(WatcherState& w, Tick now) {
  bool wanted = take(watcher_flags().patch_wanted);
  std::uint32_t every = patch_is_read() ? kPatchAgainMs : kPatchFirstMs;
  if (!wanted && ticks_elapsed(now, w.patch_tick) <= every) return;
  if (read_all())
    w.patch_tick = clock_now();
  else
    want(watcher_flags().patch_wanted);  // a waiting command cut it short: again next pass
}

void revalidate(WatcherState& w) {
  std::uint64_t bits = mask_take(watcher_flags().revalidate_bits);
  for (int ch = 0; ch < 64 && bits; ++ch) {
    std::uint64_t bit = std::uint64_t(1) << ch;
    if (!(bits & bit)) continue;
    bits &= ~bit;
    if (stopping() || !desk_link_alive()) break;
    ChannelView v = channel_view(ch);
    if (v.has_head_amp) {
      // LV1 may move the channel while the desk answers; its own write is the newer value, and a
      // forced report of the answer would put the old one back on its strip.
      const OwnWrite before = own_write(ch);
      double db = 0;
      if (read_gain_of(v, &db) && own_write(ch).gain_writes == before.gain_writes && !gain_deferred(ch, nullptr)) {
        host_report(lv1_context(), ch, db, true, false, false, true);
        w.report[ch].gain_reported = true;
        w.report[ch].last_gain = db;
        publish_gain(ch, db);
      }
      bool on = false;
      if (read_phantom_of(v, &on) && own_write(ch).phantom_writes == before.phantom_writes &&
          !phantom_deferred(ch, nullptr)) {
        host_report(lv1_context(), ch, 0.0, false, on, true, true);
        w.report[ch].phantom_known = true;
        w.report[ch].last_phantom = on;
        publish_phantom(ch, on);
      }
    }
    host_rebuild_strip(ch);
    log_detail("[patch] LV1 in %d re-validated (%s)", ch + 1, v.has_head_amp ? "preamp" : "no preamp");
  }
}

}  // namespace

// ---- the desk's pushes ------------------------------------------------------------------------

void KS_ABI on_desk_event(const char* bank, std::int32_t n, const char* kind, double value, std::uint8_t flag,
                          const void*) {
  if (!kind) return;
  WatcherFlags& f = watcher_flags();
  auto is = [kind](const char* k) { return std::strcmp(kind, k) == 0; };
  if (is("$reread")) {
    want(f.patch_wanted);
    want(f.reseed_wanted);
    want(f.names_wanted);
    return;
  }
  if (is("$reseed")) {
    want(f.reread_mode);
    want(f.reseed_wanted);
    return;
  }
  if (is("grp") || is("in")) {
    if (n >= 1 && n <= 64)
      mask_set(f.repatch_bits, n - 1);
    else
      want(f.patch_wanted);
    want(f.names_wanted);
    return;
  }
  if (is("cgrp") || is("cin") || is("cnm") || is("name")) {
    want(f.names_wanted);
    return;
  }
  if (!patch_is_read() || !bank || !*bank) return;
  char b[8];
  copy_text(b, sizeof b, bank);
  int watch = watched();
  if (is("mode")) {
    std::int32_t partner = (n & 1) ? n + 1 : n - 1;
    bool any = false;
    for (int ch = 0; ch < watch; ++ch) {
      ChannelView v = channel_view(ch);
      std::int32_t in = static_cast<std::int32_t>(v.input);
      if (iequals(v.bank, b) && (in == n || in == partner)) {
        mask_set(f.mode_bits, ch);
        any = true;
      }
    }
    if (!any) want(f.stereo_wanted);
    return;
  }
  if (is("$ract") || is("$ha") || is("rmt")) {
    bool any = false;
    for (int ch = 0; ch < watch; ++ch) {
      ChannelView v = channel_view(ch);
      if (iequals(v.bank, b) && static_cast<std::int32_t>(v.input) == n) {
        mask_set(f.repatch_bits, ch);
        any = true;
      }
    }
    if (any) log_detail("[patch] %s %d head amp / owner changed on the desk - re-checking", b, static_cast<int>(n));
    return;
  }
  bool gain = is("g"), ph = is("vph"), mute = is("mute"), dmute = is("$mute");
  if (!gain && !ph && !mute && !dmute) return;
  if (g_desk_values_held.load()) return;  // the desk-back decision comes first
  if (gain && !std::isfinite(value)) return;
  for (int ch = 0; ch < watch; ++ch) {
    ChannelView v = channel_view(ch);
    if (!iequals(v.bank, b)) continue;
    if (gain && !v.has_head_amp) continue;
    if (static_cast<std::int32_t>(v.gain_input) == n) {
      if (gain) mailbox_put_gain(ch, value);
      else if (ph) mailbox_put_phantom(ch, flag != 0);
      else mailbox_put_mute(ch, dmute ? kMuteByDollarMute : kMuteByMute, value != 0 || flag != 0);
    } else if (gain && static_cast<std::int32_t>(v.input) == n) {
      mailbox_put_own_gain(ch, value);
    }
  }
}

// ---- reporting --------------------------------------------------------------------------------

void report_desk_gain(WatcherState& w, int ch, double db) {
  if (ch < 0 || ch > 63 || !std::isfinite(db)) return;
  // LV1's own value is on its way to the desk: what the desk had before it is not news for LV1.
  if (gain_deferred(ch, nullptr)) return;
  publish_gain(ch, db);
  ReportVerdict v = offer_gain(w.report[ch], db, clock_now(), own_write(ch));
  // Stop may run on LV1's own thread: no call into LV1 once it has been asked for.
  if (!is_reported(v) || stopping()) return;
  host_report(lv1_context(), ch, db, true, false, false, false);
  if (v == ReportVerdict::first) log_detail("[bridge] startup: ch=%d seeded from desk at %.1f dB", ch, db);
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

// ---- the pass ---------------------------------------------------------------------------------

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
  bool alive = !g_desk_dropped.load() && desk_link_alive();
  bool was_answering = w.edge.answering(now);
  bool back = w.edge.pass(now, alive);
  g_answering.store(desk_chosen() && w.edge.answering(now));
  if (w.edge.ever_alive() && !w.edge.answering(now) && !g_desk_values_held.exchange(true))
    log_info("[sync] the desk is not answering - its values are held back until the desk-back decision");

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
    char bank[8];
    settings().bank.get(bank);
    if (gain_range_index(bank) < 0 && ticks_elapsed(now, w.bank_range_tick) > kBankRangeMs) {
      read_bank_range(bank);
      w.bank_range_tick = now;
    }
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

  now = clock_now();
  bool names = take(f.names_wanted);
  if ((names && ticks_elapsed(now, w.names_tick) > kNamesWantedMs) || ticks_elapsed(now, w.names_tick) > kNamesAnywayMs) {
    read_names();
    w.names_tick = now;
  } else if (names) {
    want(f.names_wanted);  // too soon after the last names read: keep the request
  }

  run_control_op();

  now = clock_now();
  if (take(f.stereo_wanted) || ticks_elapsed(now, w.stereo_tick) > kStereoMs) {
    read_stereo();
    w.stereo_tick = now;
  }
  if (ticks_elapsed(now, w.range_retry_tick) > kRangeRetryMs) {
    retry_unknown_range();
    w.range_retry_tick = now;
  }
  if (ticks_elapsed(now, w.publish_tick) >= kPublishMs) {
    status_block_sync();
    w.publish_tick = now;
  }
}

void lv1_watcher_thread() {
  while (!desk_chosen()) {
    if (wait_stop(kIdleMs) || stopping()) return;
  }
  const DeskDriver* d = driver();
  log_info("[bridge] %s -> LV1 watcher started (push-driven, ch 1..%d)", d && d->model_name ? d->model_name : "desk",
           watched());
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

bool watcher_desk_dropped() { return g_desk_dropped.load(); }

void watcher_hand_over_desk(const DeskAnswer& answer) {
  std::lock_guard<std::mutex> hold(g_handover_lock);
  g_handover = answer;
  g_handover_set = true;
}

bool watcher_desk_answering() { return g_answering.load(); }

PatchReads& watcher_patch_reads() { return g_patch_reads; }

PatchReads default_patch_reads() {
  return PatchReads{patch_read_all, patch_read_one, patch_read_mode_one, patch_read_stereo, patch_read_names};
}

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
  {
    std::lock_guard<std::mutex> hold(g_handover_lock);
    g_handover_set = false;
  }
  g_answering.store(false);
  g_desk_dropped.store(false);
  g_desk_values_held.store(false);
  mailbox_reset_all();
  watcher_flags_reset();
}

}  // namespace ks
