// What the tray leaves in the status block: the ring of eight command records and the watch
// request, both written by another process and so any bytes at all. Requests are served lowest
// seq first with every field made safe; a watch request leaves the settings in their ranges.
#include <cstring>
#include <memory>

#include "bridge/control_ops.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "shared/status_block.h"
#include "tests/support/fuzz_check.h"

namespace {

using namespace ks;

bool plausible_or_empty(const char* s) { return !s[0] || plausible_bank_name(s); }

StatusBlock* g_block;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static std::unique_ptr<StatusBlock> block(new StatusBlock);
  g_block = block.get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The ring: the input's bytes over a zeroed ring.
  CommandRing ring;
  std::memset(&ring, 0, sizeof ring);
  std::memcpy(&ring, data, size < sizeof ring ? size : sizeof ring);
  for (int served = 0; served <= int(kCommandRecords); ++served) {
    int slot = pick_pending_slot(ring);
    if (slot < 0) break;
    KS_FUZZ_CHECK(served < int(kCommandRecords) && slot < int(kCommandRecords));
    uint32_t seq = ring.op[slot].seq;
    for (const ControlOp& other : ring.op)
      if (control_op_pending(other)) KS_FUZZ_CHECK(other.seq >= seq);
    ControlRequest req;
    KS_FUZZ_CHECK(copy_request(ring, slot, &req));
    KS_FUZZ_CHECK(req.slot == slot && req.seq == seq);
    KS_FUZZ_CHECK(std::memchr(req.group, '\0', sizeof req.group) && plausible_or_empty(req.group));
    // A reply of any length is cut to its field and the record is no longer pending.
    char reply[200];
    size_t n = size % sizeof reply;
    for (size_t i = 0; i < n; ++i) reply[i] = char('a' + i % 26);
    reply[n] = '\0';
    write_control_reply(ring.op[slot], seq, ControlResult(1 + served % 3), reply);
    KS_FUZZ_CHECK(std::memchr(ring.op[slot].reply, '\0', sizeof ring.op[slot].reply));
    KS_FUZZ_CHECK(!control_op_pending(ring.op[slot]));
  }

  // The watch request, applied by one status sync of a module without a settings file.
  if (size < sizeof(WatchRequest) + 4) return 0;
  reset_framework();
  status_block_use_memory(g_block);
  std::memcpy(&g_block->watch_request, data + size - sizeof(WatchRequest), sizeof(WatchRequest));
  std::memcpy(&g_block->watch_resync, data + size - sizeof(WatchRequest) - 4, 4);
  if (g_block->watch_request.request_seq == 0) g_block->watch_request.request_seq = 1;
  status_block_sync();
  char bank[8];
  settings().bank.get(bank);
  KS_FUZZ_CHECK(std::memchr(bank, '\0', sizeof bank) && plausible_bank_name(bank));
  int32_t base = settings().base.load();
  KS_FUZZ_CHECK(base >= 1 && base <= 64);
  KS_FUZZ_CHECK(watch_count() >= 1 && watch_count() <= 64);
  status_block_use_memory(nullptr);
  return 0;
}
