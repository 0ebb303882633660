// The WING meter stream as pure code: the subscription and renewal bytes sent on the meter's own
// TCP connection, and the receive side of the UDP meter frames (size, id, levels, hold, clip and
// the `flowing` state). No sockets, no threads; every decision takes `now` so tests step time.
//
// One writer (the meter thread) and any number of readers (the watcher publishing the status
// block): every value is a relaxed atomic, so a reader never blocks and never sees a torn number.
// A reader may see one channel from the previous frame and the next from the current one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "desk/wing/wing_codec.h"
#include "os/clock.h"

namespace ks {

constexpr size_t kMeterGroupCount = 12;
constexpr size_t kMeterMaxChannels = 64;
constexpr size_t kMeterChannelCount = 446;  // all groups together
constexpr size_t kMeterFrameSize = 4 + 2 * kMeterChannelCount;
static_assert(kMeterFrameSize == 896);

constexpr double kMeterFloorDb = -144.0;  // a channel that has no level yet
constexpr uint32_t kMeterHoldMs = 1600;   // peak hold before it decays
constexpr double kMeterDecayDbPerMs = 0.02;
constexpr double kMeterSignalDb = -0.5;        // at or above: counts as a clip
constexpr uint32_t kMeterClipMs = 2500;        // how long a clip stays lit
constexpr uint32_t kMeterWrongSizeLogged = 3;  // lines written per start for bad frames

// The groups of a meter frame, in frame order. `number` is the desk's group number; the
// subscription asks for them as 0-based source devices 0x00..0x0B.
struct MeterGroup {
  const char* name;
  uint8_t number;
  uint8_t channels;
};
extern const MeterGroup kMeterGroups[kMeterGroupCount];

// Index into kMeterGroups of a bank word (compared without case); -1 for an unknown one.
int meter_group_index(const char* bank);
// Channels of a bank in the meter frame; 0 for an unknown bank.
uint32_t meter_group_channels(const char* bank);

// The subscription id of one start: ((tick & 127) xor (salt & 127)) + 32, so 32..159.
uint32_t meter_subscription_id(Tick tick, uint64_t salt);
// DF D3, then (each data byte escaped) D3 <udp port, 16-bit big-endian> D4 <id, 32-bit
// big-endian> DC A7 00 01 .. 0B DE.
void meter_put_subscription(NodeFrame& f, uint16_t udp_port, uint32_t id);
// The renewal sent every few seconds on the same connection: D4 <id> (escaped, no marker).
void meter_put_renewal(NodeFrame& f, uint32_t id);

// What one received datagram was.
enum class MeterDatagram {
  kTooShort,      // under 4 bytes: ignored
  kDeskAnswer,    // the desk's "WING,..." answer to the priming question: ignored
  kWrongSize,     // not 896 bytes: not decoded, `flowing` cleared
  kWrongId,       // another subscription's frame: dropped
  kDecoded,       // levels taken
  kFirstDecoded,  // levels taken, and the stream was not flowing before
};

// Levels of every group and channel, and the stream's state.
class MeterLevels {
public:
  MeterLevels() { reset(); }

  // Every level and hold to -144 dB, no signal, not flowing, counters 0 (at each start).
  void reset();

  // One datagram from the desk, for subscription `id`, received at `now`.
  MeterDatagram take(const uint8_t* p, size_t n, uint32_t id, Tick now);
  // The stream stopped (no data, or the connection went): queries answer false until the next
  // good frame.
  void set_flowing(bool on) { flowing_.store(on, std::memory_order_relaxed); }

  bool flowing() const { return flowing_.load(std::memory_order_relaxed); }
  uint32_t frames() const { return frames_.load(std::memory_order_relaxed); }
  uint32_t wrong_size_frames() const { return wrong_size_.load(std::memory_order_relaxed); }
  uint32_t wrong_id_frames() const { return wrong_id_.load(std::memory_order_relaxed); }

  // Queries: false while not flowing, for an unknown bank, or n outside 1..channels.
  bool level(const char* bank, int32_t n, double* db) const;
  // The larger of the level and the hold decayed to `now`.
  bool peak(const char* bank, int32_t n, Tick now, double* db) const;
  // A clip (level at or above -0.5 dB) less than 2500 ms before `now`.
  bool clip(const char* bank, int32_t n, Tick now) const;

private:
  struct Channel {
    std::atomic<double> level;
    std::atomic<double> hold;
    std::atomic<Tick> hold_tick;
    std::atomic<Tick> signal_tick;
    std::atomic<bool> signal;  // signal_tick holds a clip
  };
  const Channel* find(const char* bank, int32_t n) const;
  static double decayed_hold(const Channel& c, Tick now);

  Channel ch_[kMeterGroupCount][kMeterMaxChannels];
  std::atomic<bool> flowing_;
  std::atomic<uint32_t> frames_;
  std::atomic<uint32_t> wrong_size_;
  std::atomic<uint32_t> wrong_id_;
};

}  // namespace ks
