// The tray's watch request: which bank and LV1 channels to watch and who wins on resync, taken
// when its sequence number is new, saved to the settings file and followed by a patch read.
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/host.h"
#include "bridge/lv1_notify.h"
#include "bridge/settings.h"
#include "bridge/status_block_shared.h"
#include "bridge/text.h"
#include "bridge/watcher_flags.h"

namespace ks {

namespace {

// The request last applied (one writer: the watcher).
std::uint32_t g_applied_request_seq = 0;

}  // namespace

void watch_request_forget() { g_applied_request_seq = 0; }

void apply_watch_request(StatusBlock* b) {
  std::uint32_t seq = shm_load(b->watch_request.request_seq);
  if (seq == g_applied_request_seq) return;
  char bank[kBankBytes + 1] = {};
  copy_field_text(bank, b->watch_request.bank, sizeof b->watch_request.bank);
  bool bank_terminated =
      std::memchr(b->watch_request.bank, '\0', sizeof b->watch_request.bank) != nullptr;
  std::uint32_t base = b->watch_request.base;
  std::uint32_t count = b->watch_request.count;
  std::uint32_t resync = shm_load(b->watch_resync);
  // The tray may be writing a newer request right now: apply only a request read whole.
  if (shm_load(b->watch_request.request_seq) != seq) return;
  g_applied_request_seq = seq;

  Settings& s = settings();
  if (bank[0]) {
    if (bank_terminated && plausible_bank_name(bank))
      s.bank.set(bank);
    else
      log_info("[shm] watch request names no usable bank - keeping %s", s.bank.get().s);
  }
  if (base > 0) s.base.store(static_cast<std::int32_t>(base > 64 ? 64 : base));
  int old_watch = watch_count();
  if (count > 0) s.watch.store(static_cast<std::int32_t>(count > 64 ? 64 : count));
  s.resync_lv1.store(resync != 0);
  int new_watch = watch_count();
  log_info("[shm] config applied from tray: bank=%s base=%d watch=%d resync=%s", s.bank.get().s,
           static_cast<int>(s.base.load()), new_watch, s.resync_lv1.load() ? "lv1" : "desk");
  // Channels the user no longer watches must not stay drivable from LV1.
  if (new_watch < old_watch && channel_model_watch_shrunk(old_watch, new_watch))
    notify_channel_types();
  config_save();
  want(watcher_flags().patch_wanted);
}

}  // namespace ks
