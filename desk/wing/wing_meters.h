// The WING meter stream: a thread that subscribes on a TCP connection of its own to port 2222 of
// the desk, renews the subscription every 3 s, and takes the meter frames the desk sends to its
// UDP port. State is module-global: one stream per process.
//
// The seven functions below have the shapes of the DeskDriver meter slots and go into the WING
// record as they are. The four queries are what the status block shows per channel: they never
// block and may be called from any thread at any rate.
#pragma once

#include <cstdint>

#include "shared/desk_driver.h"

namespace ks {

class Clock;

// Starts the stream for the taken desk. False for a missing or unusable address, or while the
// thread of an earlier stop is still running; true at once when already running.
bool KS_ABI wing_meters_start(const DeskAnswer* answer);
// Ends the stream (waits up to 2000 ms; a thread that does not end is counted as stuck).
void KS_ABI wing_meters_stop();
// Frames for our subscription are arriving and decode.
bool KS_ABI wing_meters_flowing();
// Frames decoded since the stream started.
uint32_t KS_ABI wing_meter_frames();
// The input's current level, dB; false while not flowing or for an input not in the frame.
bool KS_ABI wing_meter_now(const char* bank, int32_t n, double* db);
// The larger of the current level and the decaying peak hold, dB.
bool KS_ABI wing_meter_peak(const char* bank, int32_t n, double* db);
// The input reached -0.5 dB or more within the last 2500 ms.
bool KS_ABI wing_meter_clip(const char* bank, int32_t n);

// What the stream saw, for tests and diagnostics.
struct WingMeterStats {
  uint16_t udp_port;       // the port frames are asked for (0 before the first setup)
  uint32_t id;             // subscription id of this start
  uint32_t subscriptions;  // subscriptions sent since start
  uint32_t renewals;       // renewals sent since start
  uint32_t wrong_size;     // frames of the wrong size from the desk
  uint32_t wrong_id;       // frames for another subscription
  uint32_t foreign;        // datagrams from an address that is not the desk's
};
WingMeterStats wing_meters_stats();

// Clock for the stream's ticks and waits (tests); null restores the system clock. Set it only
// while the stream is stopped.
void wing_meters_set_clock(Clock* clock);

}  // namespace ks
