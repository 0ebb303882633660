// The seeding sweep: every watched head amp read from the desk and reported to LV1 as the desk
// has it, at start, when asked and after the desk came back; banks that do not answer are
// skipped, and a desk that answers nothing is asked again after a back-off.
#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/session_recall.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_steps.h"

namespace ks {

namespace {

struct SweepTally {
  int tried = 0;
  int seeded = 0;
  int reseeded = 0;
  int failed[64];
  int failed_count = 0;
};

void set_mute_state(int ch, std::uint32_t state) {
  ChannelRecord rec = channel_record(ch);
  std::uint8_t bits = state == 1 ? kMutedByMute : state == 2 ? kMutedByDollarMute : 0;
  if (bits == rec.mute_bits) return;
  rec.mute_bits = bits;
  channel_store(ch, rec);
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
  if (w.skip.note_read(v.bank, ok))
    log_info("[bridge] %s is not answering gain reads - skipping it this sweep", v.bank);
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

}  // namespace

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
      log_info(
          "[bridge] a re-read found %d value(s) the desk had not reported - LV1 now shows the desk's",
          t.reseeded);
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
      log_info(
          "[bridge] %s %d has no head amp (no gain node) - LV1 in %d shown without preamp controls",
          v.bank, static_cast<int>(v.gain_input), ch + 1);
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

}  // namespace ks
