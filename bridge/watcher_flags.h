// Requests and progress the LV1 watcher shares with the rest of the module.
//
// Anyone may raise a request (the desk driver's thread through on_desk_event, the patch reader,
// the dashboard handlers, LV1's threads); only the watcher takes them, with an exchange to 0, and
// acts on them in its next pass. Nothing here blocks.
#pragma once

#include <atomic>
#include <cstdint>

namespace ks {

// 64 channel bits, one per LV1 channel: raised with atomic OR, taken whole with an exchange.
using ChannelMask = std::atomic<std::uint64_t>;

inline void mask_set(ChannelMask& m, int channel) {
  if (channel >= 0 && channel < 64)
    m.fetch_or(std::uint64_t(1) << channel, std::memory_order_acq_rel);
}
inline std::uint64_t mask_take(ChannelMask& m) { return m.exchange(0, std::memory_order_acq_rel); }

struct WatcherFlags {
  std::atomic<std::uint32_t> reseed_wanted{0};  // run a seeding sweep
  std::atomic<std::uint32_t> reread_mode{0};    // the next sweep is a re-read the desk asked for
  std::atomic<std::uint32_t> patch_wanted{0};   // read the whole patch at the next pass
  std::atomic<std::uint32_t> names_wanted{0};
  std::atomic<std::uint32_t> stereo_wanted{0};
  ChannelMask mode_bits{0};        // read the stereo mode of these channels again
  ChannelMask repatch_bits{0};     // read head amp and source of these channels again
  ChannelMask revalidate_bits{0};  // report these channels again (forced) and rebuild their strips

  std::atomic<std::uint32_t> seeding_done{0};     // the first seeding sweep has finished
  std::atomic<std::uint32_t> reseeded_count{0};   // values a re-read found the desk had not pushed
  std::atomic<std::uint32_t> seed_backoff_ms{0};  // 0, or 2000 doubling to 60000
  std::atomic<std::uint32_t> seed_retry_armed{0};
  std::atomic<std::uint32_t> seed_retry_at{0};  // tick; valid while seed_retry_armed
};

// The module's one instance.
WatcherFlags& watcher_flags();

// Raise one request (atomic exchange to 1, as the desk pushes do).
inline void want(std::atomic<std::uint32_t>& flag) { flag.exchange(1, std::memory_order_acq_rel); }
// Take one request: true when it was raised; it is cleared.
inline bool take(std::atomic<std::uint32_t>& flag) {
  return flag.exchange(0, std::memory_order_acq_rel) != 0;
}

// Back to the state at load (a module re-armed after stop, and tests).
void watcher_flags_reset();

}  // namespace ks
