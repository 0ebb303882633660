// The one call into LV1 outside the host's report: asking it to re-read the channel types of
// the live box, guarded so that a fault in LV1's listener does not take its process down.
#include "bridge/lv1_notify.h"

#include <cstring>

#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "os/guard.h"
#include "shared/iobox.h"

namespace ks {

void notify_channel_types() {
  if (stop_requested() || !settings().notify.load()) return;
  IoBoxListener* listener = host_lv1_listener();
  const std::uint8_t* mac = listener ? host_get_mac() : nullptr;
  if (!listener || !mac) {
    log_info("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  std::uint8_t copy[6];
  std::memcpy(copy, mac, sizeof copy);
  std::uint32_t before = capability_queries().count;
  // The listener is LV1's object: a fault in it (or a stale pointer) must not take LV1's
  // process down with this thread.
  // Even reading its slot happens inside the guard.
  std::uint32_t code = 0;
  bool has_slot = false;
  auto call = [listener, &copy, &has_slot] {
    auto fn = listener->channel_type_state_changed;
    if (!fn) return;
    has_slot = true;
    fn(listener, copy);
  };
  if (!guarded(call, &code)) {
    log_info("[notify] asking LV1 to re-read the channels faulted (exception 0x%08lx) - ignored",
             static_cast<unsigned long>(code));
    return;
  }
  if (!has_slot) {
    log_info("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  std::uint32_t after = capability_queries().count;
  log_info("[notify] channel_type_state_changed(mac) sent to LV1 (caps re-read so far: %ld)",
           static_cast<long>(after - before));
}

}  // namespace ks
