// The handlers behind the command ring, and run_control_op, which serves one record per pass.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/input_list.h"
#include "bridge/lifecycle.h"
#include "bridge/lv1_notify.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher.h"
#include "bridge/watcher_flags.h"

namespace ks {

namespace {

constexpr ControlResult kDone = ControlResult::Done;
constexpr ControlResult kRefused = ControlResult::Refused;
constexpr ControlResult kNoDesk = ControlResult::DeskNotAnswering;

ControlResult reply_with(char* reply, std::size_t len, ControlResult r, const char* fmt, ...)
    KS_PRINTF(4, 5);
ControlResult reply_with(char* reply, std::size_t len, ControlResult r, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(reply, len, fmt, ap);
  va_end(ap);
  return r;
}

const DeskDriver* driver() { return desk_driver(); }

bool watched_channel(std::int32_t ch) { return ch >= 0 && ch < 64 && ch < watch_count(); }

bool has_cap(std::uint64_t cap) {
  const DeskDriver* d = driver();
  return d && (d->caps & cap) != 0;
}

ControlResult set_gain_op(const ControlRequest& r, char* reply, std::size_t len) {
  if (!desk_link_alive()) return reply_with(reply, len, kNoDesk, "the desk is not answering");
  if (!patch_is_read()) return reply_with(reply, len, kRefused, "the patch has not been read yet");
  if (!watched_channel(r.channel))
    return reply_with(reply, len, kRefused, "that channel is out of range");
  int ch = r.channel;
  if (!channel_has_head_amp(ch))
    return reply_with(reply, len, kRefused, "this input has no head amp");
  if (!std::isfinite(r.value)) return reply_with(reply, len, kRefused, "that gain is not a number");
  GainRange range = channel_gain_range(ch);
  if (r.value < range.min - 0.01 || r.value > range.max + 0.01)
    return reply_with(reply, len, kRefused, "%.1f dB is outside this input's range", r.value);
  // Done only when the desk got the value: a write held back or not sent is no success.
  switch (bridge_set_gain(ch, r.value)) {
    case WriteOutcome::sent:
      log_info("[ctl] gain ch=%d -> %.1f dB (from the dashboard)", ch, r.value);
      return kDone;
    case WriteOutcome::link_down:
      return reply_with(reply, len, kNoDesk, "the desk is not answering");
    case WriteOutcome::gated:
      return reply_with(reply, len, kRefused,
                        "the desk is not ready for changes yet - try again in a moment");
    default: return reply_with(reply, len, kRefused, "the desk did not take the gain");
  }
}

ControlResult set_protect_op(const ControlRequest& r, char* reply, std::size_t len) {
  char bank[8] = {};
  std::uint32_t input = 0;
  int fed = -1;
  if (r.channel >= 0) {
    ChannelView v = channel_view(r.channel);
    if (!patch_is_read() || !watched_channel(r.channel) || v.input == 0)
      return reply_with(reply, len, kRefused, "that channel has no input to protect");
    copy_text(bank, sizeof bank, v.bank);
    input = v.input;
    fed = r.channel;
  } else {
    if (!r.group[0] || r.arg2 < 1)
      return reply_with(reply, len, kRefused, "no input was named to protect");
    if (r.arg2 > 0xFFFF)
      return reply_with(reply, len, kRefused, "that input number is out of range");
    copy_text(bank, sizeof bank, r.group);
    input = r.arg2;
  }
  bool add = r.arg == kProtectArgAdd;
  if (!add) {
    protect_list_set(bank, input, false);
    return kDone;
  }
  if (fed < 0 && patch_is_read()) {
    int n = watch_count();
    for (int ch = 0; ch < n && fed < 0; ++ch) {
      ChannelView v = channel_view(ch);
      if (v.input == input && iequals(v.bank, bank)) fed = ch;
    }
  }
  bool on = false;
  StatusBlock* b = status_block();
  if (fed >= 0 && b) {
    on = b->phantom[fed] != 0;
  } else {
    const DeskDriver* d = driver();
    std::uint8_t x = 0;
    if (!d || !d->read_phantom || !desk_link_alive() ||
        !d->read_phantom(bank, static_cast<std::int32_t>(input), &x))
      return reply_with(reply, len, kRefused, "could not read 48V at %s %d - not protected", bank,
                        static_cast<int>(input));
    on = x != 0;
  }
  if (on)
    return reply_with(reply, len, kRefused, "switch 48V off at %s %d first, then protect it", bank,
                      static_cast<int>(input));
  if (!protect_list_set(bank, input, true))
    return reply_with(reply, len, kRefused, "the protect list is full (32 inputs)");
  return kDone;
}

}  // namespace

ControlResult phantom_request(std::int32_t channel, bool on, char* reply, std::size_t len) {
  if (!desk_link_alive()) return reply_with(reply, len, kNoDesk, "the desk is not answering");
  if (!patch_is_read()) return reply_with(reply, len, kRefused, "the patch has not been read yet");
  if (!watched_channel(channel))
    return reply_with(reply, len, kRefused, "that channel is out of range");
  ChannelView v = channel_view(channel);
  if (!v.has_head_amp)
    return reply_with(reply, len, kRefused, "this input has no head amp, so no 48V");
  if (on && protect_list_count() > 0) {
    if (protect_list_contains(v.bank, v.input))
      return reply_with(reply, len, kRefused,
                        "%s %d is on the 48V protect list - 48V is never switched on here", v.bank,
                        static_cast<int>(v.input));
    char pbank[8] = {};
    std::uint32_t pin = 0;
    int p = phantom_partner(channel, pbank, sizeof pbank, &pin);
    if (p < 0)
      return reply_with(reply, len, kRefused,
                        "the desk's input links are not read yet - try again in a moment");
    if (p > 0 && protect_list_contains(pbank, pin))
      return reply_with(reply, len, kRefused,
                        "the desk switches %s %d's 48V with it, and %s %d is protected", pbank,
                        static_cast<int>(pin), pbank, static_cast<int>(pin));
  }
  WriteOutcome sent = bridge_set_phantom(channel, on);
  if (sent == WriteOutcome::link_down)
    return reply_with(reply, len, kNoDesk, "the desk is not answering");
  if (sent != WriteOutcome::sent)
    return reply_with(reply, len, kRefused, "the desk did not take 48V %s at %s %d",
                      on ? "on" : "off", v.bank, static_cast<int>(v.input));
  const char* word = on ? "ON" : "off";
  const DeskDriver* d = driver();
  if (!d || !d->read_phantom) {
    log_info("[48V] ch=%d -> %s: sent, but this desk cannot read it back to confirm", channel,
             word);
    return kDone;
  }
  bool answered = false, now_on = false;
  for (int i = 0; i < 5; ++i) {
    if (wait_stop(i == 0 ? 25 : 60)) break;
    std::uint8_t x = 0;
    if (!d->read_phantom(v.bank, static_cast<std::int32_t>(v.input), &x)) continue;
    answered = true;
    now_on = x != 0;
    if (now_on == on) {
      log_info("[ctl] 48V ch=%d -> %s (from the dashboard, confirmed by read-back)", channel, word);
      return kDone;
    }
  }
  if (!answered) {
    log_info("[48V] ch=%d -> %s: NOT CONFIRMED - the desk did not answer the read-back", channel,
             word);
    return reply_with(reply, len, kRefused, "48V was sent to %s %d but the desk did not answer",
                      v.bank, static_cast<int>(v.input));
  }
  log_info("[48V] ch=%d -> %s: REFUSED BY THE DESK - it still reads %s", channel, word,
           now_on ? "ON" : "off");
  return reply_with(reply, len, kRefused, "the desk did not take 48V %s at %s %d",
                    on ? "on" : "off", v.bank, static_cast<int>(v.input));
}

ControlResult reroute_channel(std::int32_t channel, const char* bank, std::uint32_t input,
                              char* reply, std::size_t len) {
  char card[8];
  settings().card.get(card);
  log_info("[reroute] request: LV1 in %d -> %s %d (card %s)", channel + 1, bank,
           static_cast<int>(input), card);
  if (!desk_link_alive()) {
    log_info("[reroute] REFUSED: desk not connected");
    return reply_with(reply, len, kNoDesk, "the desk is not answering");
  }
  if (!patch_is_read()) {
    log_info("[reroute] REFUSED: patch not read yet");
    return reply_with(reply, len, kRefused, "the patch has not been read yet");
  }
  if (!watched_channel(channel)) {
    log_info("[reroute] REFUSED: channel out of range");
    return reply_with(reply, len, kRefused, "that channel is out of range");
  }
  if (!bank || !*bank || input < 1 || input > 64) {
    log_info("[reroute] REFUSED: bad target");
    return reply_with(reply, len, kRefused, "no target input named");
  }
  const DeskDriver* d = driver();
  if (!d || !d->set_patch) {
    log_info("[reroute] REFUSED: backend has no set_patch");
    return reply_with(reply, len, kRefused, "this desk cannot be repatched");
  }
  ChannelView v = channel_view(channel);
  if (iequals(v.bank, bank) && v.input == input) {
    log_info("[reroute] no-op: LV1 in %d is already on %s %d", channel + 1, bank,
             static_cast<int>(input));
    return kDone;
  }
  log_info("[reroute] before: LV1 in %d reads %s %d", channel + 1, v.bank,
           static_cast<int>(v.input));
  if (!d->set_patch(card, static_cast<std::uint32_t>(channel + 1), bank, input)) {
    log_info("[reroute] REFUSED: set_patch() could not send");
    return reply_with(reply, len, kRefused, "the desk refused the repatch");
  }
  bool confirmed = false;
  for (int i = 1; i <= 6 && !confirmed; ++i) {
    if (wait_stop(60)) break;
    PatchReads& pr = watcher_patch_reads();
    int r = pr.read_one ? pr.read_one(static_cast<std::uint32_t>(channel)) : -1;
    ChannelView now = channel_view(channel);
    log_info("[reroute] confirm %d/6: patch_read_one=%d, now %s %d", i, r, now.bank,
             static_cast<int>(now.input));
    confirmed = iequals(now.bank, bank) && now.input == input;
  }
  if (!confirmed) {
    if (d->read_route) {
      for (const char* leaf : {"grp", "in"}) {
        std::uint32_t value = 0;
        char text[32] = {};
        d->read_route(card, static_cast<std::uint32_t>(channel + 1), leaf, &value, text,
                      sizeof text);
        text[sizeof text - 1] = '\0';
        log_info(leaf[0] == 'g' ? "[reroute] readback grp = '%s'" : "[reroute] readback in  = '%s'",
                 text);
      }
    }
    log_info("[reroute] FAILED: desk did not confirm %s %d for LV1 in %d", bank,
             static_cast<int>(input), channel + 1);
    return reply_with(reply, len, kRefused, "the desk did not confirm the repatch");
  }
  log_info("[reroute] OK: LV1 in %d -> %s %d", channel + 1, bank, static_cast<int>(input));
  clear_seeded(channel);
  want(watcher_flags().reseed_wanted);
  want(watcher_flags().names_wanted);
  if (channel_has_head_amp(channel)) read_bank_range(bank);
  gangs_rebuild();
  notify_channel_types();
  return kDone;
}

ControlResult verify_channel(std::int32_t channel, char* reply, std::size_t len) {
  if (!desk_link_alive()) return reply_with(reply, len, kNoDesk, "the desk is not answering");
  if (!patch_is_read()) return reply_with(reply, len, kRefused, "the patch has not been read yet");
  if (!watched_channel(channel))
    return reply_with(reply, len, kRefused, "that channel is out of range");
  ChannelView v = channel_view(channel);
  if (!v.has_head_amp) return reply_with(reply, len, kRefused, "this input has no head amp");
  const DeskDriver* d = driver();
  std::int32_t in = static_cast<std::int32_t>(v.input),
               gin = static_cast<std::int32_t>(v.gain_input);
  double db = 0;
  std::uint8_t on = 0, valid = 0;
  bool got_gain = false, got_phantom = false;
  if (gin != in || !d->read_preamp) {
    got_gain = d->read_gain && d->read_gain(v.bank, gin, &db) && std::isfinite(db);
    got_phantom = d->read_phantom && d->read_phantom(v.bank, in, &on);
  } else if (d->read_preamp(v.bank, in, &db, &on, &valid)) {
    got_gain = valid != 0 && std::isfinite(db);
    got_phantom = true;
  }
  if (!got_gain && !got_phantom)
    return reply_with(reply, len, kRefused, "the desk did not answer for %s %d", v.bank,
                      static_cast<int>(v.input));
  if (StatusBlock* b = status_block()) {
    if (got_gain) b->gain_db[channel] = db;
    if (got_phantom) b->phantom[channel] = on ? 1 : 0;
  }
  log_detail("[verify] ch=%d %s g=%d/p=%d -> %.1f dB, 48V %s", channel, v.bank,
             static_cast<int>(gin), static_cast<int>(in), db, on ? "on" : "off");
  return kDone;
}

ControlResult dispatch_control_op(const ControlRequest& r, char* reply, std::size_t len) {
  switch (static_cast<ControlOpCode>(r.op)) {
    case ControlOpCode::StereoLink:
    case ControlOpCode::StereoUnlink:
    case ControlOpCode::MidSideLink: {
      // The unlink hand-over sends the value to the desk: never a NaN or an infinity.
      double value = std::isfinite(r.value) ? r.value : -1000.0;
      return set_stereo_link(r.channel, r.op, r.arg, value, reply, static_cast<std::int32_t>(len));
    }
    case ControlOpCode::ScanGroup:
      if (!has_cap(CAP_REPATCH))
        return reply_with(reply, len, kRefused, "this console's card patch is set on the desk");
      return scan_group(r.group, reply, static_cast<std::int32_t>(len));
    case ControlOpCode::Reroute:
      if (!has_cap(CAP_REPATCH))
        return reply_with(reply, len, kRefused, "this console's card patch is set on the desk");
      return reroute_channel(r.channel, r.group, r.arg2, reply, len);
    case ControlOpCode::SetGain: return set_gain_op(r, reply, len);
    case ControlOpCode::SetPhantom:
      return phantom_request(r.channel, r.arg == kPhantomArgOn, reply, len);
    case ControlOpCode::SetProtect: return set_protect_op(r, reply, len);
    case ControlOpCode::RereadInput:
      return reread_listed_input(r.group,
                                 r.arg2 > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(r.arg2),
                                 reply, static_cast<std::int32_t>(len));
    case ControlOpCode::Verify: return verify_channel(r.channel, reply, len);
  }
  return reply_with(reply, len, kRefused, "unknown control op");
}

void run_control_op() {
  StatusBlock* b = status_block();
  if (!b) return;
  int slot = pick_pending_slot(b->ring);
  if (slot < 0) return;
  ControlRequest req;
  if (!copy_request(b->ring, slot, &req)) return;
  char reply[kReplyBytes] = {};
  ControlResult result = dispatch_control_op(req, reply, sizeof reply);
  reply[sizeof reply - 1] = '\0';
  write_control_reply(b->ring.op[slot], req.seq, result, reply);
  if (result == ControlResult::Done) want(watcher_flags().stereo_wanted);
}

}  // namespace ks
