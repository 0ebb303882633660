// Dashboard commands: the module's side of the status block's ring of eight ControlOp records.
//
// The tray program writes the request fields of a free slot and then its seq; the watcher serves
// one pending slot per pass (the lowest seq, the lowest slot on a tie), and makes its answer
// visible in a fixed order: reply text, then result, then done_seq. Every request field comes
// from another process and is treated as hostile: channel, operation, group text (which may lack
// its NUL), value and input numbers are checked before any of them is used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/status_block.h"

namespace ks {

// The request fields of one slot, copied out and made safe to use.
struct ControlRequest {
  int slot = -1;
  std::uint32_t seq = 0;
  std::uint32_t op = 0;
  std::int32_t channel = 0;
  std::uint32_t arg = 0;
  std::uint32_t arg2 = 0;
  double value = 0.0;
  char group[kBankBytes + 1] =
      {};  // always terminated; empty unless the slot held a plausible name
};

// Group names come from the tray and may end up in the settings file: letters, digits and a few
// marks only, so no request can smuggle a line, a comment or a list separator into it.
bool plausible_bank_name(const char* s);

// The pending slot with the smallest seq (ties: lowest index), or -1.
int pick_pending_slot(const CommandRing& ring);

// Copies the request of ring.op[slot]; false when the slot is not pending (any more).
bool copy_request(const CommandRing& ring, int slot, ControlRequest* out);

// Publishes the answer to the request `seq` of a slot: reply (bounded), result, then done_seq.
void write_control_reply(ControlOp& rec, std::uint32_t seq, ControlResult result,
                         const char* reply);

// The highest seq among the eight slots (a free slot counts with its seq 0); a long handler
// compares it with the one it noted to give way to a newer request.
std::uint32_t highest_ring_seq(const CommandRing& ring);

// Serves at most one pending record of the module's status block (nothing without a block).
void run_control_op();
// Any slot of the module's status block pending.
bool control_op_waiting();

// Runs the handler of one request; the reply buffer (reply_len bytes) starts empty. Exposed for
// tests: run_control_op is copy_request + this + write_control_reply.
ControlResult dispatch_control_op(const ControlRequest& req, char* reply, std::size_t reply_len);

// The handlers with their refusals (reply buffers of reply_len bytes, cleared by the caller).
ControlResult phantom_request(std::int32_t channel, bool on, char* reply, std::size_t reply_len);
ControlResult reroute_channel(std::int32_t channel, const char* bank, std::uint32_t input,
                              char* reply, std::size_t reply_len);
ControlResult verify_channel(std::int32_t channel, char* reply, std::size_t reply_len);

}  // namespace ks
