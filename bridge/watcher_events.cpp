// What the desk pushes, on the driver's thread: turned into requests and mailbox values for the
// watcher's next pass. Never blocks.
#include <cmath>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/host.h"
#include "bridge/text.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "bridge/watcher_steps.h"

namespace ks {

void KS_ABI on_desk_event(const char* bank, std::int32_t n, const char* kind, double value,
                          std::uint8_t flag, const void*) {
  if (!kind) return;
  WatcherFlags& f = watcher_flags();
  auto is = [kind](const char* k) { return std::strcmp(kind, k) == 0; };
  if (is("$reread")) {
    want(f.patch_wanted);
    want(f.reseed_wanted);
    want(f.names_wanted);
    return;
  }
  if (is("$reseed")) {
    want(f.reread_mode);
    want(f.reseed_wanted);
    return;
  }
  if (is("grp") || is("in")) {
    if (n >= 1 && n <= 64)
      mask_set(f.repatch_bits, n - 1);
    else
      want(f.patch_wanted);
    want(f.names_wanted);
    return;
  }
  if (is("cgrp") || is("cin") || is("cnm") || is("name")) {
    want(f.names_wanted);
    return;
  }
  if (!patch_is_read() || !bank || !*bank) return;
  char b[8];
  copy_text(b, sizeof b, bank);
  int watch = watched();
  if (is("mode")) {
    std::int32_t partner = (n & 1) ? n + 1 : n - 1;
    bool any = false;
    for (int ch = 0; ch < watch; ++ch) {
      ChannelView v = channel_view(ch);
      std::int32_t in = static_cast<std::int32_t>(v.input);
      if (iequals(v.bank, b) && (in == n || in == partner)) {
        mask_set(f.mode_bits, ch);
        any = true;
      }
    }
    if (!any) want(f.stereo_wanted);
    return;
  }
  if (is("$ract") || is("$ha") || is("rmt")) {
    bool any = false;
    for (int ch = 0; ch < watch; ++ch) {
      ChannelView v = channel_view(ch);
      if (iequals(v.bank, b) && static_cast<std::int32_t>(v.input) == n) {
        mask_set(f.repatch_bits, ch);
        any = true;
      }
    }
    if (any)
      log_detail("[patch] %s %d head amp / owner changed on the desk - re-checking", b,
                 static_cast<int>(n));
    return;
  }
  bool gain = is("g"), ph = is("vph"), mute = is("mute"), dmute = is("$mute");
  if (!gain && !ph && !mute && !dmute) return;
  if (desk_values_held()) return;  // the desk-back decision comes first
  if (gain && !std::isfinite(value)) return;
  for (int ch = 0; ch < watch; ++ch) {
    ChannelView v = channel_view(ch);
    if (!iequals(v.bank, b)) continue;
    if (gain && !v.has_head_amp) continue;
    if (static_cast<std::int32_t>(v.gain_input) == n) {
      if (gain)
        mailbox_put_gain(ch, value);
      else if (ph)
        mailbox_put_phantom(ch, flag != 0);
      else
        mailbox_put_mute(ch, dmute ? kMuteByDollarMute : kMuteByMute, value != 0 || flag != 0);
    } else if (gain && static_cast<std::int32_t>(v.input) == n) {
      mailbox_put_own_gain(ch, value);
    }
  }
}

}  // namespace ks
