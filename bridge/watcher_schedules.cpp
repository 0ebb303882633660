// What a pass does on a timer, or sooner when asked: the watched bank's range, LV1's capability
// re-queries, the patch, names and stereo reads, a retry of an unknown range and the publish.
#include "bridge/channel_model.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_steps.h"

namespace ks {

namespace {

constexpr std::uint32_t kPatchFirstMs = 2000;
constexpr std::uint32_t kPatchAgainMs = 30000;
constexpr std::uint32_t kNamesWantedMs = 3000;
constexpr std::uint32_t kNamesAnywayMs = 120000;
constexpr std::uint32_t kStereoMs = 10000;
constexpr std::uint32_t kRangeRetryMs = 20000;
constexpr std::uint32_t kBankRangeMs = 5000;

}  // namespace

void scheduled_bank_range_read(WatcherState& w, Tick now) {
  char bank[8];
  settings().bank.get(bank);
  if (gain_range_index(bank) < 0 && ticks_elapsed(now, w.bank_range_tick) > kBankRangeMs) {
    read_bank_range(bank);
    w.bank_range_tick = now;
  }
}

void caps_notice(WatcherState& w, Tick now) {
  CapabilityQueries q = capability_queries();
  std::uint32_t growth = 0;
  if (!w.caps.look(now, q.count, &growth)) return;
  log_info(
      "[caps] LV1 re-queried %ld capabilities, LV1 channels %ld..%ld - its channel model changed",
      static_cast<long>(growth), static_cast<long>(q.lowest) + 1, static_cast<long>(q.highest) + 1);
  reset_capability_extremes();
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

void scheduled_names_read(WatcherState& w, Tick now) {
  WatcherFlags& f = watcher_flags();
  bool names = take(f.names_wanted);
  if ((names && ticks_elapsed(now, w.names_tick) > kNamesWantedMs) ||
      ticks_elapsed(now, w.names_tick) > kNamesAnywayMs) {
    read_names();
    w.names_tick = now;
  } else if (names) {
    want(f.names_wanted);  // too soon after the last names read: keep the request
  }
}

void scheduled_stereo_check(WatcherState& w, Tick now) {
  if (take(watcher_flags().stereo_wanted) || ticks_elapsed(now, w.stereo_tick) > kStereoMs) {
    read_stereo();
    w.stereo_tick = now;
  }
}

void scheduled_range_retry(WatcherState& w, Tick now) {
  if (ticks_elapsed(now, w.range_retry_tick) > kRangeRetryMs) {
    retry_unknown_range();
    w.range_retry_tick = now;
  }
}

void scheduled_publish(WatcherState& w, Tick now) {
  if (ticks_elapsed(now, w.publish_tick) >= kPublishMs) {
    status_block_sync();
    w.publish_tick = now;
  }
}

}  // namespace ks
