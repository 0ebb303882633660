// Which desk values reach LV1, and when.
//
// The watcher is the only caller of the host's report-to-LV1 callback. Every value the desk gives
// (a push taken from a mailbox, or a read during a seeding sweep) is offered here first:
//   - a channel's first gain and first 48 V state are always reported;
//   - a later value is reported only when more than 250 ms have passed since the module itself
//     last wrote that channel, and a gain only when it moved by at least 0.01 dB from the last
//     gain reported.
// A value that arrives inside the 250 ms window is not thrown away: it is held as the channel's
// pending value and reported by `due_gain` / `due_phantom` once the window has passed (a genuine
// move at the desk just after a write from LV1 would otherwise be lost until the next re-seed). A
// write by the module after the pending value arrived supersedes it: the desk then holds the
// module's value.
#pragma once

#include <cstdint>

namespace ks {

constexpr std::uint32_t kEchoWindowMs = 250;
constexpr double kReportMinMoveDb = 0.01;

// The module's last write of one channel (gain or 48 V) as the value writer keeps it.
struct OwnWrite {
  bool ever = false;                 // the module has written this channel at least once
  std::uint32_t tick = 0;            // tick of that write
  std::uint32_t gain_writes = 0;     // counts that only grow: a read the desk answered while one
  std::uint32_t phantom_writes = 0;  // moved may carry the value from before LV1's write
};

// What the watcher remembers of the values it reported for one channel.
struct ChannelReportState {
  bool gain_reported = false;
  double last_gain = 0.0;
  bool phantom_known = false;
  bool last_phantom = false;

  bool gain_pending = false;
  double pending_gain = 0.0;
  std::uint32_t pending_gain_at = 0;
  bool phantom_pending = false;
  bool pending_phantom = false;
  std::uint32_t pending_phantom_at = 0;
};

enum class ReportVerdict : std::uint8_t {
  first,     // report: the channel's first value
  report,    // report: a later value that passed the rules
  deferred,  // held: inside the window after the module's own write
  dropped,   // not reported: no move (gain under 0.01 dB, 48 V unchanged)
};

inline bool is_reported(ReportVerdict v) {
  return v == ReportVerdict::first || v == ReportVerdict::report;
}

// True while `now` is within the echo window after the module's own write.
bool inside_echo_window(std::uint32_t now, OwnWrite w);

// Offer a desk gain (dB) or 48 V state; on a reported verdict the state already counts it as
// the last reported value. A non-finite gain is dropped.
ReportVerdict offer_gain(ChannelReportState& s, double db, std::uint32_t now, OwnWrite w);
ReportVerdict offer_phantom(ChannelReportState& s, bool on, std::uint32_t now, OwnWrite w);

// A held value whose window has passed. `due_gain`/`due_phantom` say whether to report it now,
// with the value in `*db` / `*on`. A held value superseded by a later own write is dropped.
bool due_gain(ChannelReportState& s, std::uint32_t now, OwnWrite w, double* db);
bool due_phantom(ChannelReportState& s, std::uint32_t now, OwnWrite w, bool* on);

// Forget everything reported, so that the next value of every kind counts as a first value
// (the desk is the source of truth after it comes back).
void forget_reports(ChannelReportState& s);

}  // namespace ks
