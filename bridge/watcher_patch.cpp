// The desk's patch as the watcher follows it: the patch reader's reads (replaceable by tests),
// the channels a desk push marked for a mode or re-patch read, and strips re-validated with a
// forced report of the desk's values.
#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/lv1_notify.h"
#include "bridge/patch_reader.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_steps.h"

namespace ks {

namespace {

PatchReads g_patch_reads = default_patch_reads();

}  // namespace

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

PatchReads& watcher_patch_reads() { return g_patch_reads; }

PatchReads default_patch_reads() {
  return PatchReads{patch_read_all, patch_read_one, patch_read_mode_one, patch_read_stereo,
                    patch_read_names};
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
      if (read_gain_of(v, &db) && own_write(ch).gain_writes == before.gain_writes &&
          !gain_deferred(ch, nullptr)) {
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
    log_detail("[patch] LV1 in %d re-validated (%s)", ch + 1,
               v.has_head_amp ? "preamp" : "no preamp");
  }
}

}  // namespace ks
