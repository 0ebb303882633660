// The LV1 watcher: the console module's main loop. It keeps LV1's strips and the desk's head
// amps in step: every 20 ms it reports desk changes to LV1, seeds LV1 from the desk, replays
// LV1's values when the desk comes back (setting `resync`), follows patch, mode, name and range
// changes, serves one dashboard command and publishes the status block.
#pragma once

#include <cstdint>

#include "bridge/reporting.h"
#include "bridge/watcher_rules.h"
#include "os/clock.h"
#include "shared/desk_driver.h"

namespace ks {

// The framework's EventFn: the driver's thread drops what the desk pushes. Never blocks.
void KS_ABI on_desk_event(const char* bank, std::int32_t n, const char* kind, double value,
                          std::uint8_t flag, const void* extra);

// Watcher-local state: zeroed when the thread starts.
struct WatcherState {
  std::uint32_t last_count[64] = {};
  ChannelReportState report[64];
  BankSkipList skip;
  DeskBackEdge edge;
  CapsNotice caps;
  Tick names_tick = 0;
  Tick stereo_tick = 0;
  Tick range_retry_tick = 0;
  Tick bank_range_tick = 0;
  Tick publish_tick = 0;
  Tick patch_tick = 0;
};

// What the thread does before its first pass: the first patch read and the start ticks.
void watcher_begin(WatcherState& w);
// One pass, in the fixed order of its steps.
void watcher_pass(WatcherState& w);
// The thread procedure: waits for a desk (200 ms), then passes every 20 ms until stop.
void lv1_watcher_thread();

// Discovery's re-find loop hands over the desk found at another address; the watcher switches
// the link at its next pass. Any thread.
void watcher_hand_over_desk(const DeskAnswer& answer);
// The watcher dropped the desk because another console answers at its address: the link stays
// down until re-finding hands a desk over.
bool watcher_desk_dropped();

// A desk is chosen and a pass with the link alive happened less than 6000 ms ago.
bool watcher_desk_answering();

// One desk value (seeding sweep, mailbox, or a held value that became due) through the
// reporting rules to LV1; the status block keeps the last known value either way.
void report_desk_gain(WatcherState& w, int ch, double db);
void report_desk_phantom(WatcherState& w, int ch, bool on);

// The patch reader's reads as the watcher runs them (a null slot is skipped). Tests put their
// own in to script the model.
struct PatchReads {
  bool (*read_all)();                 // false: cut short by a waiting command
  int (*read_one)(std::uint32_t ch);  // -1 no answer, 0 unchanged, 1 changed
  void (*read_mode_one)(int ch);
  void (*read_stereo)();
  void (*read_names)();
};
PatchReads& watcher_patch_reads();
// The patch reader's own functions.
PatchReads default_patch_reads();

// Installs the watcher, the status block, the desk-event handler and session recall into the
// module's lifecycle (called once by each module's entry, and by tests that run the thread).
void install_watcher_hooks();

// Back to the state at load (tests and a module re-armed after stop).
void watcher_reset();

}  // namespace ks
