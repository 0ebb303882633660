#include "desk/wing/wing_meters_frame.h"

#include <cstring>

#include "bridge/text.h"

namespace ks {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr size_t sum_channels() {
  size_t total = 0;
  for (const MeterGroup& g : kMeterGroups) total += g.channels;
  return total;
}

}  // namespace

constexpr MeterGroup kMeterGroups[kMeterGroupCount] = {
    {"LCL", 1, 24}, {"AUX", 2, 8},   {"A", 3, 48},   {"B", 4, 48},
    {"C", 5, 48},   {"SC", 6, 32},   {"USB", 7, 48}, {"CRD", 8, 64},
    {"MOD", 9, 64}, {"PLAY", 10, 4}, {"AES", 11, 2}, {"USR", 12, 56},
};
static_assert(sum_channels() == kMeterChannelCount, "the frame carries every group's channels");

int meter_group_index(const char* bank) {
  if (!bank) return -1;
  // Bank words are short; a longer text (or one without its NUL) is no group.
  const std::string_view word(bank, strnlen(bank, 8));
  for (size_t g = 0; g < kMeterGroupCount; ++g)
    if (iequals(word, kMeterGroups[g].name)) return int(g);
  return -1;
}

uint32_t meter_group_channels(const char* bank) {
  int g = meter_group_index(bank);
  return g < 0 ? 0 : kMeterGroups[g].channels;
}

uint32_t meter_subscription_id(Tick tick, uint64_t salt) {
  return ((tick & 127u) ^ uint32_t(salt & 127u)) + 32u;
}

void meter_put_subscription(NodeFrame& f, uint16_t udp_port, uint32_t id) {
  frame_put_marker(f, kMeterChannel);
  frame_put_byte(f, 0xD3);
  frame_put_byte(f, uint8_t(udp_port >> 8));
  frame_put_byte(f, uint8_t(udp_port));
  meter_put_renewal(f, id);
  frame_put_byte(f, kDataRequest);
  frame_put_byte(f, 0xA7);
  for (uint8_t g = 0; g < kMeterGroupCount; ++g) frame_put_byte(f, g);
  frame_put_byte(f, kEndOfReply);
}

void meter_put_renewal(NodeFrame& f, uint32_t id) {
  frame_put_byte(f, 0xD4);
  for (int shift = 24; shift >= 0; shift -= 8) frame_put_byte(f, uint8_t(id >> shift));
}

void MeterLevels::reset() {
  for (auto& group : ch_) {
    for (Channel& c : group) {
      c.level.store(kMeterFloorDb, kRelaxed);
      c.hold.store(kMeterFloorDb, kRelaxed);
      c.hold_tick.store(0, kRelaxed);
      c.signal_tick.store(0, kRelaxed);
      c.signal.store(false, kRelaxed);
    }
  }
  flowing_.store(false, kRelaxed);
  frames_.store(0, kRelaxed);
  wrong_size_.store(0, kRelaxed);
  wrong_id_.store(0, kRelaxed);
}

double MeterLevels::decayed_hold(const Channel& c, Tick now) {
  double hold = c.hold.load(kRelaxed);
  uint32_t age = ticks_elapsed(now, c.hold_tick.load(kRelaxed));
  if (age <= kMeterHoldMs) return hold;
  return hold - kMeterDecayDbPerMs * double(age - kMeterHoldMs);
}

MeterDatagram MeterLevels::take(const uint8_t* p, size_t n, uint32_t id, Tick now) {
  if (!p || n < 4) return MeterDatagram::kTooShort;
  if (n >= 5 && p[0] == 'W' && p[1] == 'I' && p[2] == 'N' && p[3] == 'G')
    return MeterDatagram::kDeskAnswer;
  if (n != kMeterFrameSize) {
    // The channel counts changed under us (sample rate, card): no levels rather than wrong ones.
    wrong_size_.fetch_add(1, kRelaxed);
    flowing_.store(false, kRelaxed);
    return MeterDatagram::kWrongSize;
  }
  if (read_be32(p) != id) {
    wrong_id_.fetch_add(1, kRelaxed);
    return MeterDatagram::kWrongId;
  }
  const uint8_t* v = p + 4;
  for (size_t g = 0; g < kMeterGroupCount; ++g) {
    for (size_t i = 0; i < kMeterGroups[g].channels; ++i, v += 2) {
      Channel& c = ch_[g][i];
      double level = double(int16_t(read_be16(v))) / 256.0;
      c.level.store(level, kRelaxed);
      if (level >= decayed_hold(c, now)) {
        c.hold.store(level, kRelaxed);
        c.hold_tick.store(now, kRelaxed);
      }
      if (level >= kMeterSignalDb) {
        c.signal_tick.store(now, kRelaxed);
        c.signal.store(true, kRelaxed);
      } else if (c.signal.load(kRelaxed) &&
                 ticks_elapsed(now, c.signal_tick.load(kRelaxed)) >= kMeterClipMs) {
        // Forget an old clip, so it cannot light again when the tick wraps round.
        c.signal.store(false, kRelaxed);
      }
    }
  }
  frames_.fetch_add(1, kRelaxed);
  return flowing_.exchange(true, kRelaxed) ? MeterDatagram::kDecoded : MeterDatagram::kFirstDecoded;
}

const MeterLevels::Channel* MeterLevels::find(const char* bank, int32_t n) const {
  if (!flowing()) return nullptr;
  int g = meter_group_index(bank);
  if (g < 0 || n < 1 || n > int32_t(kMeterGroups[g].channels)) return nullptr;
  return &ch_[g][n - 1];
}

bool MeterLevels::level(const char* bank, int32_t n, double* db) const {
  const Channel* c = find(bank, n);
  if (!c) return false;
  if (db) *db = c->level.load(kRelaxed);
  return true;
}

bool MeterLevels::peak(const char* bank, int32_t n, Tick now, double* db) const {
  const Channel* c = find(bank, n);
  if (!c) return false;
  double level = c->level.load(kRelaxed);
  double hold = decayed_hold(*c, now);
  if (db) *db = hold > level ? hold : level;
  return true;
}

bool MeterLevels::clip(const char* bank, int32_t n, Tick now) const {
  const Channel* c = find(bank, n);
  if (!c || !c->signal.load(kRelaxed)) return false;
  return ticks_elapsed(now, c->signal_tick.load(kRelaxed)) < kMeterClipMs;
}

}  // namespace ks
