#include "bridge/control_ops.h"

#include <cstdio>
#include <cstring>

#include "bridge/status_block.h"

namespace ks {

bool plausible_bank_name(const char* s) {
  if (!s || !*s) return false;
  for (; *s; ++s) {
    char c = *s;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '$' || c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

int pick_pending_slot(const CommandRing& ring) {
  int best = -1;
  std::uint32_t best_seq = 0;
  for (int i = 0; i < static_cast<int>(kCommandRecords); ++i) {
    const ControlOp& rec = ring.op[i];
    if (!control_op_pending(rec)) continue;
    std::uint32_t seq = shm_load(rec.seq);
    if (best < 0 || seq < best_seq) {
      best = i;
      best_seq = seq;
    }
  }
  return best;
}

bool copy_request(const CommandRing& ring, int slot, ControlRequest* out) {
  if (slot < 0 || slot >= static_cast<int>(kCommandRecords) || !out) return false;
  const ControlOp& rec = ring.op[slot];
  // The acquire load of seq orders the field reads after the tray's writes of them.
  std::uint32_t seq = shm_load(rec.seq);
  if (seq == 0 || shm_load(rec.done_seq) == seq) return false;
  ControlRequest r;
  r.slot = slot;
  r.seq = seq;
  r.op = rec.op;
  r.channel = rec.channel;
  r.arg = rec.arg;
  r.arg2 = rec.arg2;
  std::memcpy(&r.value, &rec.value, sizeof r.value);
  // A group that fills its field without a NUL is no group name at all.
  if (std::memchr(rec.group, '\0', sizeof rec.group)) {
    copy_field_text(r.group, rec.group, sizeof rec.group);
    if (!plausible_bank_name(r.group)) r.group[0] = '\0';
  }
  *out = r;
  return true;
}

void write_control_reply(ControlOp& rec, std::uint32_t seq, ControlResult result,
                         const char* reply) {
  set_field_text(rec.reply, reply ? reply : "");
  shm_store(rec.result, static_cast<std::uint32_t>(result));
  shm_store(rec.done_seq, seq);
}

std::uint32_t highest_ring_seq(const CommandRing& ring) {
  std::uint32_t hi = 0;
  for (const ControlOp& rec : ring.op) {
    std::uint32_t s = shm_load(rec.seq);
    if (s > hi) hi = s;
  }
  return hi;
}

bool control_op_waiting() {
  StatusBlock* b = status_block();
  if (!b) return false;
  for (const ControlOp& rec : b->ring.op)
    if (control_op_pending(rec)) return true;
  return false;
}

}  // namespace ks
