// GainObject: the loader's answer to LV1's "WavesIOBoxGain", one per device box. LV1 calls its
// slots; the console modules read its cached gains and 48 V flags straight from memory (resync
// replays LV1's values to the desk), so these bytes are a format shared by the loader and both
// console modules.
#pragma once

#include <cstdint>

#include "shared/iobox.h"
#include "shared/records.h"

namespace ks {

inline constexpr uint32_t kGainObjectSlots = 26;
inline constexpr uint32_t kGainObjectSize = 792;

// Defaults LV1 gets while no console module ever answered a range query.
inline constexpr double kDefaultGainMin = 0.0;
inline constexpr double kDefaultGainMax = 60.0;
inline constexpr double kDefaultGainStep = 0.5;

// All slots are called by LV1 on its own threads; channel arguments are 0-63 (others answered
// with the defaults or ignored). None of them waits for a lock.
struct GainObject {
  SlotFn op0;  // does nothing
  // Does channel ch have a preamp (the running module's answer, or the last one cached).
  bool(KS_ABI* gain_has_preamp)(GainObject* self, uint32_t ch);
  // Lowest gain of channel ch, dB (the module's answer, else the cache, else 0.0).
  double(KS_ABI* gain_min_query)(GainObject* self, uint32_t ch);
  // Highest gain of channel ch, dB (the module's answer, else the cache, else 60.0).
  double(KS_ABI* gain_max_query)(GainObject* self, uint32_t ch);
  // Gain step of channel ch, dB (the module's answer, else the cache, else 0.5).
  double(KS_ABI* gain_step_query)(GainObject* self, uint32_t ch);
  // LV1 moved the gain of ch: cached here and sent on to the console module when it runs.
  void(KS_ABI* gain_set)(GainObject* self, int32_t ch, double db);
  // The cached gain of ch, dB (0.0 for ch > 63).
  double(KS_ABI* gain_get)(GainObject* self, uint32_t ch);
  // Does channel ch have switchable 48 V.
  bool(KS_ABI* gain_has_48v)(GainObject* self, uint32_t ch);
  // LV1 switched 48 V of ch (on: only the low byte counts).
  void(KS_ABI* phantom_set)(GainObject* self, uint32_t ch, uint8_t on);
  // The cached 48 V flag of ch (false for ch > 63).
  bool(KS_ABI* phantom_get)(GainObject* self, uint32_t ch);
  // Slots 10-24: answered with false, 0, 0.0 or nothing.
  SlotFn unused10_24[15];
  // LV1 registers (non-null) or clears (null) its callback; registering may start the module.
  // The callback object is LV1's and stays valid until LV1 clears it.
  void(KS_ABI* set_gain_changed_callback)(GainObject* self, GainChangedCallback* cb);

  double gain[kChannels];         // LV1's last value per channel, dB (0.0 at start)
  uint8_t phantom[kChannels];     // LV1's last 48 V value per channel, 0/1
  GainChangedCallback* callback;  // registered by LV1, null when none
};

static_assert(sizeof(GainObject) == kGainObjectSize && kPlainRecord<GainObject>);
static_assert(alignof(GainObject) == 8, "the loader's array of 64 objects has a stride of 792");
static_assert(offsetof(GainObject, gain_has_preamp) == 1 * 8);
static_assert(offsetof(GainObject, gain_set) == 5 * 8);
static_assert(offsetof(GainObject, phantom_set) == 8 * 8);
static_assert(offsetof(GainObject, phantom_get) == 9 * 8);
static_assert(offsetof(GainObject, set_gain_changed_callback) == 25 * 8);
static_assert(offsetof(GainObject, gain) == kGainObjectSlots * 8);
static_assert(offsetof(GainObject, phantom) == 720);
static_assert(offsetof(GainObject, callback) == 784);

// Reads for a console module: LV1's threads write these caches while the module's watcher reads
// them, so each value is loaded whole (a torn f64 would replay a gain nobody set).
inline double gain_object_gain(const GainObject& obj, uint32_t ch) {
  double v = 0.0;
  if (ch < kChannels) __atomic_load(&obj.gain[ch], &v, __ATOMIC_RELAXED);
  return v;
}
inline bool gain_object_phantom(const GainObject& obj, uint32_t ch) {
  return ch < kChannels && __atomic_load_n(&obj.phantom[ch], __ATOMIC_RELAXED) != 0;
}

}  // namespace ks
