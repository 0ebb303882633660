// Everything the module writes to the desk's head amps: gain, 48 V and stereo links.
//
// Each write checks, in a fixed order, whether it may and can happen, logs a refusal in fixed
// words when not, and otherwise has the desk driver send it, records it in the status block and
// copies it to the other LV1 channels fed from the same desk input. LV1's own writes are never
// refused back to LV1 (the value stays in LV1 and is reconciled later); callers that must report
// a result (dashboard commands) use the outcome.
#pragma once

#include <cstdint>

#include "bridge/reporting.h"
#include "shared/status_block.h"

namespace ks {

enum class WriteOutcome : uint8_t {
  sent,         // the driver sent it
  gated,        // not now: LV1 still starting, no desk yet, patch unread, identity being checked
  link_down,    // the desk link is down: nothing was sent
  refused,      // never: bad channel or value, no head amp, protected input
  send_failed,  // the driver could not send it
  deferred,     // the desk could not take it at once: kept (latest per channel and kind) and
                // sent by the watcher's next pass, or reconciled by resync
};

WriteOutcome bridge_set_gain(int32_t channel, double db);
WriteOutcome bridge_set_phantom(int32_t channel, bool on);

// op 1 link as stereo ("ST"), 2 unlink ("M"), 3 link as mid/side ("M/S"). The reply (at most
// reply_size - 1 characters) is written for every result but a plain success.
ControlResult set_stereo_link(int32_t channel, uint32_t op, uint32_t arg, double value, char* reply,
                              int32_t reply_size);

// The input whose 48 V the desk switches together with channel's input: 1 found (bank_out,
// input_out), 0 none, -1 not known yet.
int32_t phantom_partner(int32_t channel, char* bank_out, int32_t len, uint32_t* input_out);

// Sets the module's 48 V flag of channel from the status block (0 without a block).
void load_phantom_flag(int32_t channel);

// Per-channel state of the writer, read by the watcher.
OwnWrite own_write(int channel);
bool is_seeded(int channel);
void mark_seeded(int channel);
void clear_seeded(int channel);
bool module_phantom(int channel);
// The last gain the module sent for channel, when it sent one.
bool last_gain_sent(int channel, double* db);

// The watcher's pass: sends every deferred value the desk takes now (the latest per channel and
// kind, in the writer's checks again). Returns how many went out.
int send_deferred_writes();
// The desk is the source of truth again (resync=desk): deferred values give way to its values.
// Returns how many were dropped.
int drop_deferred_writes();
// A value of this channel and kind waits to be sent (status and tests).
bool gain_deferred(int channel, double* db);
bool phantom_deferred(int channel, bool* on);

// Set while the desk-back replay runs (no gang copies then).
void set_replay_running(bool on);
// Set while the watcher checks which console answers after a reconnect.
void set_identity_check_pending(bool on);
bool identity_check_pending();

// The status block the writer records into (null: none). The status block's publish and close
// keep it current.
void set_status_view(StatusBlock* block);

// Back to the state at load (tests, and a module re-armed after stop).
void value_writer_reset();

}  // namespace ks
