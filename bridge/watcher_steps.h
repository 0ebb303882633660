// What the watcher's files share: the steps of a pass, grouped by the file that does them, and
// the few helpers they all use. Included by the watcher's own files only; watcher_pass in
// watcher.cpp runs the steps in order.
#pragma once

#include <cstdint>

#include "bridge/channel_model.h"
#include "bridge/watcher.h"

namespace ks {

constexpr std::uint32_t kPublishMs = 50;

// watcher.cpp: the thread and the pass.
const DeskDriver* driver();
bool stopping();
int watched();  // the watch count, within 0..64
// True while the desk is not answering and until the desk-back decision has been applied.
bool desk_values_held();
// One desk read of a channel's head amp: false when the driver has no such read, the read
// failed or the gain is not finite.
bool read_gain_of(const ChannelView& v, double* db);
bool read_phantom_of(const ChannelView& v, bool* on);

// watcher_desk.cpp: which console the link drives.
void desk_switch();
bool identity_recheck();  // true: dropped, another console answers at the desk's address
void watcher_desk_reset();

// watcher_seeding.cpp: the desk's values read afresh.
void seeding_sweep(WatcherState& w, Tick now);

// watcher_desk_values.cpp: what the desk pushed, through the mailboxes and the reporting rules
// to LV1 and the status block.
void drain_mailboxes(WatcherState& w, Tick now);
void publish_gain(int ch, double db);
void publish_phantom(int ch, bool on);

// watcher_desk_back.cpp: who wins when the desk answers again.
void desk_back(WatcherState& w);

// watcher_patch.cpp: the patch reader as the watcher runs it, the desk's re-patch and mode
// pushes, and strips re-validated.
bool read_all();
int read_one(std::uint32_t ch);
void read_mode_one(int ch);
void read_stereo();
void read_names();
void channel_bits();
void revalidate(WatcherState& w);

// watcher_schedules.cpp: what the pass does on a timer or when asked.
void scheduled_bank_range_read(WatcherState& w, Tick now);
void caps_notice(WatcherState& w, Tick now);
void scheduled_patch_read(WatcherState& w, Tick now);
void scheduled_names_read(WatcherState& w, Tick now);
void scheduled_stereo_check(WatcherState& w, Tick now);
void scheduled_range_retry(WatcherState& w, Tick now);
void scheduled_publish(WatcherState& w, Tick now);

}  // namespace ks
