// Finding the desk: asking the configured address, searching every network, choosing one answer,
// and, once a desk is taken, looking for it at other addresses when its link stays down.
#pragma once

#include <cstdint>

#include "os/clock.h"
#include "shared/desk_driver.h"

namespace ks {

inline constexpr int kDiscoverMax = 8;
inline constexpr uint32_t kDiscoverWaitMs = 1200;
inline constexpr int kFastSweeps = 15;  // sweeps this far apart first...
inline constexpr uint32_t kFastSweepGapMs = 4000;
inline constexpr uint32_t kSlowSweepGapMs = 15000;  // ...then this far
inline constexpr int kSilentSweepsBeforeUnchecked = 3;
inline constexpr uint32_t kRefindTickMs = 1000;
inline constexpr uint32_t kRefindAfterDownMs = 20000;

// Picks one of the answers for this module. console_id is the `console` setting (may be empty).
// decision gets a DiscoveryDecision code. Returns the index, or -1.
int choose_answer(const DeskAnswer* answers, int n, const char* console_id, uint32_t* decision);

// choose_answer with the settings as they stand now, published into the status block with up to
// six answers; the answers line is logged when the decision or the count changed.
int pick_answer(const DeskAnswer* answers, int n);

// Asks the `ip` setting whether it is this module's console. True: out is the desk to take.
// False: *stop_general_search says whether searching elsewhere is forbidden this sweep, and text
// (size bytes) says why for the status line ("" for nothing to say).
bool ask_configured_address(DeskAnswer* out, uint8_t* stop_general_search, char* text,
                            uint32_t size);

// One search sweep (k counts from 0). True: out is the desk to take.
bool discovery_sweep(int k, DeskAnswer* out);

// Takes the answer as the desk and starts the watcher.
void take_desk(const DeskAnswer& answer);

// The re-find loop's state; refind_tick is one 1000 ms step of it.
struct RefindState {
  bool started = false;
  Tick last_alive = 0;
  int sweeps = 0;
  Tick next_sweep = 0;
  bool told_no_id = false;
  bool gave_up = false;
  bool other_seen_at_own_ip = false;
};
void refind_tick(RefindState& r);

// The thread: sweeps until a desk is taken, then re-finds until stop.
void discovery_thread();
void refind_loop();

// Puts discovery_thread into the module's lifecycle.
void install_discovery_hooks();

// Back to the state at load (tests).
void discovery_reset();

}  // namespace ks
