#include "bridge/session_recall.h"

#include <atomic>
#include <cmath>

#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "os/lock.h"

namespace ks {

namespace {

// No head amp has a gain outside this; a value beyond it comes from a damaged session.
constexpr double kSaneGainDb = 100.0;

struct HeldValues {
  double gain[64];
  std::uint32_t phantom[64];
  std::uint32_t preamp[64];
};

// Made at load, before LV1's session load or the watcher can touch it.
CriticalSection& g_recall_lock = *new CriticalSection;  // never freed (os/lock.h)
HeldValues g_held;                                      // guarded by g_recall_lock
std::atomic<std::uint32_t> g_has_held{0};
std::atomic<std::uint32_t> g_apply_pending{0};

bool link_alive() { return desk_link_alive(); }

}  // namespace

void session_recall(const double* gain, const std::uint32_t* phantom, const std::uint32_t* preamp) {
  if (!settings().session_recall.load()) {
    log_info(
        "[recall] LV1 opened a session with Kestrune preamp values - not applied (session_recall=off)");
    return;
  }
  if (!gain || !phantom || !preamp) return;
  int dropped = 0;
  {
    LockGuard<CriticalSection> hold(g_recall_lock);
    for (int ch = 0; ch < 64; ++ch) {
      g_held.gain[ch] = gain[ch];
      g_held.phantom[ch] = phantom[ch] != 0 ? 1 : 0;
      g_held.preamp[ch] = preamp[ch] != 0 ? 1 : 0;
      if (g_held.preamp[ch] && !(std::isfinite(gain[ch]) && std::fabs(gain[ch]) <= kSaneGainDb)) {
        g_held.preamp[ch] = 0;
        ++dropped;
      }
    }
    g_has_held.store(1);
    g_apply_pending.store(1);
  }
  if (dropped)
    log_info(
        "[recall] %d channel(s) of the session had no usable gain - left as the console has them",
        dropped);
  bool seeded = watcher_flags().seeding_done.load() != 0;
  log_info("[recall] LV1 opened a session with Kestrune preamp values - %s",
           !seeded        ? "held until the console has been read"
           : link_alive() ? "applying now"
                          : "held until the console answers");
  if (seeded) apply_held_values();
}

int apply_held_values() {
  if (!g_has_held.load()) return 0;
  if (g_apply_pending.exchange(0) == 0) return 0;
  if (!link_alive()) {
    g_apply_pending.store(1);
    log_info("[recall] the console is not answering - LV1's values are held until it is back");
    return 0;
  }
  HeldValues v;
  {
    LockGuard<CriticalSection> hold(g_recall_lock);
    v = g_held;
  }
  int applied = 0;
  int watch = watch_count();
  for (int ch = 0; ch < watch && ch < 64; ++ch) {
    if (stop_requested()) {
      g_apply_pending.store(1);  // not all written: the next start applies them again
      break;
    }
    if (!v.preamp[ch] || !channel_has_head_amp(ch)) continue;
    bridge_set_gain(ch, v.gain[ch]);
    bridge_set_phantom(ch, v.phantom[ch] != 0);
    ++applied;
  }
  log_info("[recall] session preamp values applied to the console: %d channel(s)", applied);
  return applied;
}

void session_recall_reset() {
  LockGuard<CriticalSection> hold(g_recall_lock);
  g_has_held.store(0);
  g_apply_pending.store(0);
}

bool session_values_pending() { return g_has_held.load() && g_apply_pending.load(); }

}  // namespace ks
