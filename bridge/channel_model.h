// The 64-channel model: which desk input feeds each of LV1's channels of the card, whether it has
// a head amp this module may drive, its stereo mode, the gain ranges per desk bank, and the gangs
// of LV1 channels fed from one input.
//
// The patch reader (watcher thread) is the only writer of the records. LV1's threads, the driver's
// event callback and the status writer read them: each record sits behind a sequence lock, so a
// reader always gets one whole record (never the bank of one patch with the input of another)
// and never waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "os/clock.h"
#include "shared/status_block.h"

namespace ks {

constexpr int kChannelCount = 64;
constexpr int kRangeCapacity = 8;

inline bool valid_channel(int64_t ch) { return ch >= 0 && ch < kChannelCount; }

enum LinkMode : uint8_t {
  kMono = 0,
  kStereoLower = 1,
  kStereoUpper = 2,
  kMidSideLower = 3,
  kMidSideUpper = 4,
};

// Mute bits of a record.
constexpr uint8_t kMutedByMute = 2;        // bit 1
constexpr uint8_t kMutedByDollarMute = 4;  // bit 2

struct ChannelRecord {
  char bank[8];             // source bank, "" before the patch is read
  uint32_t input;           // source input from 1
  uint32_t head_amp_input;  // input whose head amp drives the channel; 0 before the first read
  int32_t head_amp_type;    // last type the driver gave, -1 unknown
  uint8_t has_head_amp;
  uint8_t link_mode;  // LinkMode
  uint8_t mute_bits;
  uint8_t parked_valid;
  double parked_gain;  // own input's gain when another input's head amp drives the channel
};

ChannelRecord empty_channel_record();

// A consistent copy of channel ch (an empty record outside 0..63).
ChannelRecord channel_record(int ch);
// Watcher thread only.
void channel_store(int ch, const ChannelRecord& rec);
// Clears bank and input of all 64 records, so that every channel reads as new (slot change).
void channels_clear_sources();

// The patch has been read at least once (never goes back to false while loaded).
bool patch_is_read();
void set_patch_read(Tick now);
Tick patch_read_tick();

// What the accessors answer for one channel, taken from one consistent record.
struct ChannelView {
  char bank[8];
  uint32_t input;
  uint32_t gain_input;
  bool has_head_amp;
  uint8_t link_mode;
};
// Channels outside 0..63 give an empty bank, input 0 and no head amp.
ChannelView channel_view(int ch);

std::string channel_bank(int ch);
uint32_t channel_input(int ch);
uint32_t channel_gain_input(int ch);
bool channel_has_head_amp(int ch);

// Gain ranges per desk bank.
struct GainRange {
  double min;
  double max;
  double step;
};
// While a bank's range is unknown: 0.0 .. 45.0 dB, step 2.5.
constexpr GainRange kDefaultRange{kUnknownRangeMin, kUnknownRangeMax, kUnknownRangeStep};

struct BankRange {
  char bank[8];
  double min;
  double max;
  double step;
  uint8_t known;
  uint8_t pad[3];
  uint32_t last_fail_tick;
};

int range_count();
// Index of the entry for bank (case-insensitive), or -1.
int gain_range_index(const char* bank);
bool gain_range_at(int index, BankRange& out);
bool gain_range_for_bank(const char* bank, BankRange& out);
// The range of channel ch: its bank's entry once the patch is read, else the defaults.
GainRange channel_gain_range(int ch);
// Adds an entry for a bank not yet in the table (watcher thread).
void read_bank_range(const char* bank);
// Retries the first unknown entry whose last try is 60 s old; at most one per call.
void retry_unknown_range();

// m + s * floor((dB - m) / s + 0.5), then kept within [m, max]; a step of 0 only clamps.
double step_and_clamp(double db, const GainRange& r);

// Port limits for "A", "B", "C", "SC" (-1 unknown).
int port_index(const char* bank);
void set_port_input_limit(int port, int32_t limit);
int32_t port_input_limit(int port);
bool input_within_port(const char* bank, uint32_t n);

// Rebuilds the gangs of watched channels; logs each gang whose members changed.
void gangs_rebuild();

// The watch count shrank from old_watch to new_watch: records at or above it are cleared (their
// inputs are no longer this module's to drive) and the gangs rebuilt. True when any changed.
bool channel_model_watch_shrunk(int old_watch, int new_watch);

// The first watched channel with a head amp fed from bank/input; -1 none.
int channel_for_input(const char* bank, uint32_t input);

// Names published per channel (watcher thread writes, watcher-side readers).
const char* channel_name(int ch);
void set_channel_names(const char (*names)[20]);

// The desk's network-control lock as last read.
extern std::atomic<bool> tcp_lock;

// Back to the state at load (tests).
void channel_model_reset();

}  // namespace ks
