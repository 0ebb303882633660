// Asking LV1 to re-read the channel types of the live box.
#pragma once

namespace ks {

// Only while not stopping and with the setting `notify` on; logs why when the host has no
// listener or MAC yet, and when LV1's listener faults.
void notify_channel_types();

}  // namespace ks
