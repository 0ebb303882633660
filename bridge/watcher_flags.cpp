#include "bridge/watcher_flags.h"

namespace ks {

namespace {
WatcherFlags g_flags;
}

WatcherFlags& watcher_flags() { return g_flags; }

void watcher_flags_reset() {
  WatcherFlags& f = g_flags;
  for (auto* a : {&f.reseed_wanted, &f.reread_mode, &f.patch_wanted, &f.names_wanted,
                  &f.stereo_wanted, &f.seeding_done, &f.reseeded_count, &f.seed_backoff_ms,
                  &f.seed_retry_armed, &f.seed_retry_at})
    a->store(0, std::memory_order_release);
  for (ChannelMask* m : {&f.mode_bits, &f.repatch_bits, &f.revalidate_bits})
    m->store(0, std::memory_order_release);
}

}  // namespace ks
