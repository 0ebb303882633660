// In-process stand-in for Waves' module and boxes, for tests and benchmarks that link the
// loader's code directly instead of loading Kestrune.dll.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "loader/win/loader_core.h"

namespace ks::fake {

// Whether the wrapper already counted as released when Waves' release ran.
inline int g_release_saw_released = -1;

inline uint64_t KS_ABI box_zero(IoBox*) { return 0; }
inline uint64_t KS_ABI box_release(IoBox* self) {
  for (int i = 0; i < box_count(); ++i) {
    DeviceBox* b = box_at(i);
    if (b && b->inner == self) g_release_saw_released = box_released(b) ? 1 : 0;
  }
  return 0x5E;
}
inline void* KS_ABI box_query(IoBox*, const char*) { return nullptr; }

inline IoBox* KS_ABI create_box(IoBoxModuleInterface*, uint32_t, uint32_t) {
  IoBox* b = static_cast<IoBox*>(std::calloc(1, sizeof(IoBox)));
  for (SlotFn& s : b->slot) s = reinterpret_cast<SlotFn>(&box_zero);
  b->slot[kIoBoxRelease] = reinterpret_cast<SlotFn>(&box_release);
  b->slot[kIoBoxQueryInterface] = reinterpret_cast<SlotFn>(&box_query);
  return b;
}
inline uint64_t KS_ABI iface_zero(IoBoxModuleInterface*) { return 1; }

// Makes every card row's Waves module the fake one, as a factory call would, and fills the
// module hosts. Call once per process, after loader_attach.
inline void install_waves() {
  static IoBoxModuleInterface iface{&iface_zero, &iface_zero, nullptr, &create_box, nullptr};
  for (int row = 0; row < kCardRows; ++row) {
    card_runtime(row).inner = &iface;
    console_type(kCardTable[row].console_type).waves_module = &iface;
  }
  fill_module_hosts();
}

// A wrapped box of the card with a real MAC; null when the table is full.
inline DeviceBox* make_box(uint32_t product, uint8_t mac_last) {
  IoBox* b = create_device_box_for(11, product);
  if (!b) return nullptr;
  const uint8_t mac[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, mac_last};
  slot_as<IoBoxSetMacFn>(b->slot[kIoBoxSetMac])(b, mac);
  return reinterpret_cast<DeviceBox*>(b);
}

}  // namespace ks::fake
