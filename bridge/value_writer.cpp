#include "bridge/value_writer.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/patch_reader.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"

namespace ks {

namespace {

struct ChannelWriteState {
  std::atomic<uint32_t> last_write_tick{0};
  std::atomic<uint8_t> wrote{0};
  std::atomic<uint8_t> seeded{0};
  std::atomic<uint32_t> phantom{0};
  std::atomic<uint64_t> last_gain_bits{0};
  std::atomic<uint32_t> gain_sent{0};
  std::atomic<uint32_t> gain_writes{0};
  std::atomic<uint32_t> phantom_writes{0};
  // Deferred values: the latest one per kind. The state word says whether one waits (kWaiting)
  // or the watcher is sending it (kSending); a value deferred meanwhile sets kWaiting again.
  std::atomic<uint64_t> deferred_gain_bits{0};
  std::atomic<uint8_t> deferred_phantom_on{0};
  std::atomic<uint8_t> gain_state{0};
  std::atomic<uint8_t> phantom_state{0};
};

constexpr uint8_t kNone = 0, kWaiting = 1, kSending = 2;

ChannelWriteState g_ch[kChannelCount];
std::atomic<uint32_t> g_replay_running{0};
std::atomic<uint32_t> g_identity_check_pending{0};
std::atomic<StatusBlock*> g_status{nullptr};

const char* on_off(bool on) { return on ? "ON" : "off"; }

// The status block is shared with the tray and written here from LV1's threads as well as the
// watcher: every field goes through one atomic access.
void publish_gain(int ch, double db) {
  if (StatusBlock* b = g_status.load(std::memory_order_acquire))
    __atomic_store(&b->gain_db[ch], &db, __ATOMIC_RELAXED);
}
void publish_phantom(int ch, bool on) {
  if (StatusBlock* b = g_status.load(std::memory_order_acquire))
    __atomic_store_n(&b->phantom[ch], uint8_t(on), __ATOMIC_RELAXED);
}
void count_write() {
  if (StatusBlock* b = g_status.load(std::memory_order_acquire)) {
    __atomic_fetch_add(&b->sent_count, 1u, __ATOMIC_RELAXED);
    __atomic_store_n(&b->last_write_tick, clock_now64(), __ATOMIC_RELAXED);
  }
}

void note_write(int ch, std::atomic<uint32_t> ChannelWriteState::*kind) {
  (g_ch[ch].*kind).fetch_add(1, std::memory_order_relaxed);
  g_ch[ch].last_write_tick.store(clock_now(), std::memory_order_relaxed);
  g_ch[ch].wrote.store(1, std::memory_order_release);
}

// The other watched channels with a head amp fed like ch: from the same head amp (gain) or the same
// input (48 V). They get the write as if the desk had pushed it, so LV1 shows it on their strips
// too; not during the desk-back replay, which writes every channel itself.
template <class F>
void for_each_gang_member(int ch, const ChannelView& v, bool by_head_amp, F&& f) {
  if (g_replay_running.load()) return;
  int watch = watch_count();
  for (int other = 0; other < watch; ++other) {
    if (other == ch) continue;
    ChannelView o = channel_view(other);
    uint32_t mine = by_head_amp ? v.gain_input : v.input;
    uint32_t theirs = by_head_amp ? o.gain_input : o.input;
    if (o.has_head_amp && theirs == mine && iequals(o.bank, v.bank)) f(other);
  }
}

// A deferred value goes out before any newer one of the same kind, so the desk never gets them
// out of order: while one waits, a newer value replaces it instead of being sent past it.
bool defer_gain(int ch, double db) {
  g_ch[ch].deferred_gain_bits.store(std::bit_cast<uint64_t>(db));
  return g_ch[ch].gain_state.exchange(kWaiting) == kNone;
}
bool defer_phantom(int ch, bool on) {
  g_ch[ch].deferred_phantom_on.store(on ? 1 : 0);
  return g_ch[ch].phantom_state.exchange(kWaiting) == kNone;
}

thread_local bool t_sending_deferred = false;  // the watcher's send of a deferred value

bool seeding_gate(int ch) {
  return !watcher_flags().seeding_done.load() && !g_ch[ch].seeded.load();
}

int32_t partner_of(const ChannelView& v, char* bank_out, int32_t len, uint32_t* input_out) {
  const DeskDriver* d = desk_driver();
  if (d && d->ha_link_partner) {
    char bank[9] = {};
    int32_t n = 0;
    int32_t r = d->ha_link_partner(v.bank, int32_t(v.input), bank, 8, &n);
    if (r == 1) {
      // A partner the module cannot name is as good as unknown: 48 V must not go on.
      if (n < 1 || !bank[0] || bounded_len(bank, 8) > 7) return -1;
      copy_text(bank_out, size_t(len), bank);
      *input_out = uint32_t(n);
      return 1;
    }
    return r == 0 ? 0 : -1;
  }
  int64_t partner;
  switch (v.link_mode) {
    case kStereoLower:
    case kMidSideLower: partner = int64_t(v.input) + 1; break;
    case kStereoUpper:
    case kMidSideUpper: partner = int64_t(v.input) - 1; break;
    default: return 0;
  }
  if (partner <= 0) return 0;
  copy_text(bank_out, size_t(len), v.bank);
  *input_out = uint32_t(partner);
  return 1;
}

}  // namespace

WriteOutcome bridge_set_gain(int32_t channel, double db) {
  if (!valid_channel(channel)) {
    log_detail("SET gain ch=%d %.1f dB  [no such channel - not sent]", int(channel), db);
    return WriteOutcome::refused;
  }
  if (!std::isfinite(db)) {
    log_info("SET gain ch=%d %f dB  [not a gain - not sent]", int(channel), db);
    return WriteOutcome::refused;
  }
  const int ch = channel;
  // One consistent record for every decision and for the send.
  const bool patch_read = patch_is_read();
  const ChannelView v = channel_view(ch);
  if (patch_read && !v.has_head_amp) return WriteOutcome::refused;
  if (seeding_gate(ch)) {
    log_info("SET gain ch=%d %.1f dB  [desk value not read yet - LV1 is still starting, not sent]",
             ch, db);
    return WriteOutcome::gated;
  }
  g_ch[ch].seeded.store(1);
  if (!desk_chosen()) {
    log_info("SET gain ch=%d %.1f dB  [no desk yet - not sent]", ch, db);
    framework_start();
    return WriteOutcome::gated;
  }
  if (!desk_link_alive()) {
    log_info("SET gain ch=%d %.1f dB  [desk link is down - not sent]", ch, db);
    return WriteOutcome::link_down;
  }
  if (identity_check_pending()) {
    log_info(
        "SET gain ch=%d %.1f dB  [checking which console answers after the reconnect - not sent]",
        ch, db);
    return WriteOutcome::gated;
  }
  if (!patch_read) {
    log_info("SET gain ch=%d %.1f dB  [desk patch not read yet - not sent]", ch, db);
    return WriteOutcome::gated;
  }
  note_write(ch, &ChannelWriteState::gain_writes);
  const DeskDriver* d = desk_driver();
  if (!d || !d->send_gain) {
    log_info("SET gain ch=%d %.1f dB  [the desk driver could not send it to %s %u]", ch, db, v.bank,
             unsigned(v.gain_input));
    return WriteOutcome::send_failed;
  }
  const bool behind_deferred = !t_sending_deferred && g_ch[ch].gain_state.load() != kNone;
  if (behind_deferred || !d->send_gain(v.bank, int32_t(v.gain_input), db)) {
    // The desk cannot take it now (its socket is full or busy): LV1's thread does not wait. The
    // watcher sends the latest value at its next pass; the status block shows it meanwhile, and
    // the strips ganged with it get it once it is sent.
    if (t_sending_deferred) return WriteOutcome::deferred;
    if (defer_gain(ch, db))
      log_info(
          "SET gain ch=%d %.1f dB  [the desk is not taking writes at once - deferred, sent at the next pass]",
          ch, db);
    else
      log_detail("SET gain ch=%d %.1f dB  [deferred, replaces the value still waiting]", ch, db);
    publish_gain(ch, step_and_clamp(db, channel_gain_range(ch)));
    return WriteOutcome::deferred;
  }
  publish_gain(ch, step_and_clamp(db, channel_gain_range(ch)));
  g_ch[ch].last_gain_bits.store(std::bit_cast<uint64_t>(db));
  g_ch[ch].gain_sent.store(1, std::memory_order_release);
  count_write();
  log_detail("[bridge] %s %u gain %.1f dB", v.bank, unsigned(v.gain_input), db);

  for_each_gang_member(ch, v, true, [db](int other) { mailbox_put_gain(other, db); });
  return WriteOutcome::sent;
}

WriteOutcome bridge_set_phantom(int32_t channel, bool on) {
  if (!valid_channel(channel)) {
    log_detail("[48V] ch=%d %d not sent: no such channel", int(channel), on ? 1 : 0);
    return WriteOutcome::refused;
  }
  const int ch = channel;
  const bool patch_read = patch_is_read();
  const ChannelView v = channel_view(ch);
  if (patch_read && !v.has_head_amp) return WriteOutcome::refused;
  if (seeding_gate(ch)) {
    log_info("[48V] ch=%d %d not sent: desk value not read yet - LV1 is still starting", ch,
             on ? 1 : 0);
    return WriteOutcome::gated;
  }
  g_ch[ch].seeded.store(1);
  if (!patch_read) {
    log_info(
        "[48V] REFUSED ch=%d: the desk patch has not been read yet, so which input this is cannot be known",
        ch);
    return WriteOutcome::gated;
  }
  if (on && protect_list_count() > 0) {
    const char* refusal = nullptr;
    char pbank[8] = {};
    uint32_t pinput = 0;
    int32_t partner = 0;
    if (protect_list_contains(v.bank, v.input)) {
      log_info("[48V] REFUSED ch=%d -> %s %u: input is protected in kestrune.cfg", ch, v.bank,
               unsigned(v.input));
      refusal = "protected";
    } else if ((partner = partner_of(v, pbank, sizeof pbank, &pinput)) < 0) {
      log_info(
          "[48V] REFUSED ch=%d -> %s %u: whether the desk links its 48V to another input is not known yet",
          ch, v.bank, unsigned(v.input));
      refusal = "partner unknown";
    } else if (partner == 1 && protect_list_contains(pbank, pinput)) {
      log_info(
          "[48V] REFUSED ch=%d -> %s %u: the desk switches %s %u's 48V with it, and that input is protected in "
          "kestrune.cfg",
          ch, v.bank, unsigned(v.input), pbank, unsigned(pinput));
      refusal = "partner protected";
    }
    if (refusal) {
      load_phantom_flag(ch);
      return WriteOutcome::refused;
    }
  }
  if (!desk_chosen()) {
    log_info("SET 48V ch=%d %d  [no desk yet - not sent]", ch, on ? 1 : 0);
    framework_start();
    return WriteOutcome::gated;
  }
  if (!desk_link_alive()) {
    log_info("[48V] ch=%d -> %s: desk link is down - not sent", ch, on_off(on));
    return WriteOutcome::link_down;
  }
  if (identity_check_pending()) {
    log_info("[48V] ch=%d -> %s: checking which console answers after the reconnect - not sent", ch,
             on_off(on));
    return WriteOutcome::gated;
  }
  note_write(ch, &ChannelWriteState::phantom_writes);
  const DeskDriver* d = desk_driver();
  if (!d || !d->send_phantom) {
    log_info("[48V] ch=%d -> %s %u = %s: the desk driver could not send it", ch, v.bank,
             unsigned(v.input), on_off(on));
    return WriteOutcome::send_failed;
  }
  const bool behind_deferred = !t_sending_deferred && g_ch[ch].phantom_state.load() != kNone;
  if (behind_deferred || !d->send_phantom(v.bank, int32_t(v.input), on ? 1 : 0)) {
    if (t_sending_deferred) return WriteOutcome::deferred;
    if (defer_phantom(ch, on))
      log_info(
          "[48V] ch=%d -> %s %u = %s: the desk is not taking writes at once - deferred, sent at the next pass",
          ch, v.bank, unsigned(v.input), on_off(on));
    else
      log_detail("[48V] ch=%d -> %s %u = %s: deferred, replaces the value still waiting", ch,
                 v.bank, unsigned(v.input), on_off(on));
    publish_phantom(ch, on);
    g_ch[ch].phantom.store(on ? 1 : 0);
    return WriteOutcome::deferred;
  }
  publish_phantom(ch, on);
  g_ch[ch].phantom.store(on ? 1 : 0);
  count_write();
  log_info("[48V] ch=%d -> %s %u = %s", ch, v.bank, unsigned(v.input), on_off(on));

  for_each_gang_member(ch, v, false, [on](int other) { mailbox_put_phantom(other, on); });
  return WriteOutcome::sent;
}

int32_t phantom_partner(int32_t channel, char* bank_out, int32_t len, uint32_t* input_out) {
  if (!valid_channel(channel) || !bank_out || len <= 0 || !input_out) return 0;
  return partner_of(channel_view(channel), bank_out, len, input_out);
}

void load_phantom_flag(int32_t channel) {
  if (!valid_channel(channel)) return;
  StatusBlock* b = g_status.load(std::memory_order_acquire);
  uint8_t on = b ? __atomic_load_n(&b->phantom[channel], __ATOMIC_RELAXED) : 0;
  g_ch[channel].phantom.store(on ? 1 : 0);
}

OwnWrite own_write(int channel) {
  OwnWrite w;
  if (!valid_channel(channel)) return w;
  w.ever = g_ch[channel].wrote.load(std::memory_order_acquire) != 0;
  w.tick = g_ch[channel].last_write_tick.load(std::memory_order_relaxed);
  w.gain_writes = g_ch[channel].gain_writes.load(std::memory_order_relaxed);
  w.phantom_writes = g_ch[channel].phantom_writes.load(std::memory_order_relaxed);
  return w;
}

bool is_seeded(int channel) { return valid_channel(channel) && g_ch[channel].seeded.load(); }
void mark_seeded(int channel) {
  if (valid_channel(channel)) g_ch[channel].seeded.store(1);
}
void clear_seeded(int channel) {
  if (valid_channel(channel)) g_ch[channel].seeded.store(0);
}
bool module_phantom(int channel) { return valid_channel(channel) && g_ch[channel].phantom.load(); }

bool last_gain_sent(int channel, double* db) {
  if (!valid_channel(channel) || !g_ch[channel].gain_sent.load(std::memory_order_acquire))
    return false;
  if (db) *db = std::bit_cast<double>(g_ch[channel].last_gain_bits.load());
  return true;
}

namespace {

// One deferred value of one kind: taken for sending, then settled by the outcome. A value LV1
// deferred while it was being sent stays waiting for the next pass.
template <class Send>
bool send_one_deferred(std::atomic<uint8_t>& state, Send&& send) {
  uint8_t waiting = kWaiting;
  if (!state.compare_exchange_strong(waiting, kSending)) return false;
  t_sending_deferred = true;
  WriteOutcome o = send();
  t_sending_deferred = false;
  uint8_t sending = kSending;
  if (o == WriteOutcome::deferred || o == WriteOutcome::gated || o == WriteOutcome::link_down) {
    state.compare_exchange_strong(sending, kWaiting);  // not taken yet: a later pass
    return false;
  }
  // Sent, or given up by the writer's own checks (logged there; resync reconciles it).
  state.compare_exchange_strong(sending, kNone);
  return o == WriteOutcome::sent;
}

}  // namespace

int send_deferred_writes() {
  int sent = 0;
  // Only when a write could go out at all: the writer's own gates would only log each pass.
  if (!patch_is_read() || identity_check_pending() || !desk_chosen() || !desk_link_alive())
    return 0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    ChannelWriteState& c = g_ch[ch];
    if (c.gain_state.load() == kWaiting && send_one_deferred(c.gain_state, [&] {
          return bridge_set_gain(ch, std::bit_cast<double>(c.deferred_gain_bits.load()));
        })) {
      ++sent;
      log_info("SET gain ch=%d %.1f dB  [deferred value sent]", ch,
               std::bit_cast<double>(c.deferred_gain_bits.load()));
    }
    if (c.phantom_state.load() == kWaiting && send_one_deferred(c.phantom_state, [&] {
          return bridge_set_phantom(ch, c.deferred_phantom_on.load() != 0);
        })) {
      ++sent;
      log_info("[48V] ch=%d -> %s: deferred value sent", ch,
               on_off(c.deferred_phantom_on.load() != 0));
    }
  }
  return sent;
}

int drop_deferred_writes() {
  int dropped = 0;
  for (ChannelWriteState& c : g_ch) {
    uint8_t w = kWaiting;
    if (c.gain_state.compare_exchange_strong(w, kNone)) ++dropped;
    w = kWaiting;
    if (c.phantom_state.compare_exchange_strong(w, kNone)) ++dropped;
  }
  return dropped;
}

bool gain_deferred(int channel, double* db) {
  if (!valid_channel(channel) || g_ch[channel].gain_state.load() == kNone) return false;
  if (db) *db = std::bit_cast<double>(g_ch[channel].deferred_gain_bits.load());
  return true;
}

bool phantom_deferred(int channel, bool* on) {
  if (!valid_channel(channel) || g_ch[channel].phantom_state.load() == kNone) return false;
  if (on) *on = g_ch[channel].deferred_phantom_on.load() != 0;
  return true;
}

void set_replay_running(bool on) { g_replay_running.store(on ? 1 : 0); }
void set_identity_check_pending(bool on) { g_identity_check_pending.store(on ? 1 : 0); }
bool identity_check_pending() { return g_identity_check_pending.load() != 0; }

void set_status_view(StatusBlock* block) { g_status.store(block, std::memory_order_release); }

void value_writer_reset() {
  for (auto& c : g_ch) {
    c.last_write_tick.store(0);
    c.wrote.store(0);
    c.seeded.store(0);
    c.phantom.store(0);
    c.last_gain_bits.store(0);
    c.gain_sent.store(0);
    c.gain_writes.store(0);
    c.phantom_writes.store(0);
    c.deferred_gain_bits.store(0);
    c.deferred_phantom_on.store(0);
    c.gain_state.store(kNone);
    c.phantom_state.store(kNone);
  }
  g_replay_running.store(0);
  g_identity_check_pending.store(0);
}

}  // namespace ks

// ---- Stereo links ----

namespace ks {

namespace {

ControlResult reply_with(char* reply, int32_t size, ControlResult result, const char* fmt, ...)
    KS_PRINTF(4, 5);
ControlResult reply_with(char* reply, int32_t size, ControlResult result, const char* fmt, ...) {
  if (reply && size > 0) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(reply, size_t(size), fmt, ap);
    va_end(ap);
  }
  return result;
}

// The LV1 channel (watched) whose source is bank/input, with or without a head amp; -1 none.
int channel_fed_from(const char* bank, uint32_t input) {
  int watch = watch_count();
  for (int ch = 0; ch < watch; ++ch) {
    ChannelRecord r = channel_record(ch);
    if (r.input == input && iequals(r.bank, bank)) return ch;
  }
  return -1;
}

}  // namespace

ControlResult set_stereo_link(int32_t channel, uint32_t op, uint32_t arg, double value, char* reply,
                              int32_t reply_size) {
  if (reply && reply_size > 0) reply[0] = '\0';
  if (!valid_channel(channel))
    return reply_with(reply, reply_size, ControlResult::Refused, "bad channel");
  if (op < 1 || op > 3)
    return reply_with(reply, reply_size, ControlResult::Refused, "unknown control op");
  if (!patch_is_read())
    return reply_with(reply, reply_size, ControlResult::Refused,
                      "the desk patch has not been read yet");
  if (!desk_link_alive())
    return reply_with(reply, reply_size, ControlResult::DeskNotAnswering, "the desk link is down");
  const DeskDriver* d = desk_driver();
  if (!d || !(d->caps & CAP_STEREO_LINK))
    return reply_with(reply, reply_size, ControlResult::Refused,
                      "this console links stereo on its own channels - set it on the desk");
  const ChannelView v = channel_view(channel);
  if (v.input < 1)
    return reply_with(reply, reply_size, ControlResult::Refused,
                      "this channel has no input to link");
  const uint32_t lower = (v.input % 2 == 1) ? v.input : v.input - 1;
  const uint32_t upper = lower + 1;
  const bool linking = op == 1 || op == 3;
  const char* mode = op == 3 ? "M/S" : (op == 1 ? "ST" : "M");

  if (linking && v.has_head_amp) {
    const uint32_t legs[2] = {lower, upper};
    bool on[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
      uint8_t ph = 0;
      // A leg whose 48 V cannot be read counts as on: linking must never spread 48 V unseen.
      on[i] = !(d->read_phantom && d->read_phantom(v.bank, int32_t(legs[i]), &ph)) || ph != 0;
    }
    if (arg == 1) {
      for (int i = 0; i < 2; ++i) {
        if (!on[i]) continue;
        int fed = channel_for_input(v.bank, legs[i]);
        WriteOutcome o = fed >= 0
                             ? bridge_set_phantom(fed, false)
                             : ((d->send_phantom && d->send_phantom(v.bank, int32_t(legs[i]), 0))
                                    ? WriteOutcome::sent
                                    : WriteOutcome::send_failed);
        if (o != WriteOutcome::sent)
          return reply_with(reply, reply_size,
                            o == WriteOutcome::link_down ? ControlResult::DeskNotAnswering
                                                         : ControlResult::Refused,
                            "could not switch 48V off at %s %u - not linked", v.bank,
                            unsigned(legs[i]));
        log_info("[stereo] 48V off at %s %u before link", v.bank, unsigned(legs[i]));
      }
    } else if (protect_list_count() > 0 && (on[0] || on[1])) {
      int protected_leg = protect_list_contains(v.bank, lower)
                              ? 0
                              : (protect_list_contains(v.bank, upper) ? 1 : -1);
      if (protected_leg >= 0) {
        log_info("[stereo] REFUSED link ch=%d %s %u/%u: 48V on with a protected leg", int(channel),
                 v.bank, unsigned(lower), unsigned(upper));
        return reply_with(reply, reply_size, ControlResult::Refused,
                          "won't link: 48V is on and %s %u is a protected ribbon input", v.bank,
                          unsigned(legs[protected_leg]));
      }
    }
  }

  if (!d->send_mode || !d->send_mode(v.bank, int32_t(lower), mode)) {
    log_info("[stereo] ch=%d %s %u/%u -> %s: the desk driver could not send it", int(channel),
             v.bank, unsigned(lower), unsigned(upper), mode);
    return reply_with(reply, reply_size,
                      desk_link_alive() ? ControlResult::Refused : ControlResult::DeskNotAnswering,
                      "the desk refused the link change");
  }
  log_info("[stereo] ch=%d %s %u/%u -> %s (arg=%u)", int(channel), v.bank, unsigned(lower),
           unsigned(upper), mode, unsigned(arg));

  if (op == 2 && arg == 3 && v.has_head_amp && std::isfinite(value) && value > -200.0) {
    if (d->send_gain && d->send_gain(v.bank, int32_t(upper), value)) {
      int fed = channel_fed_from(v.bank, upper);
      if (fed >= 0) {
        publish_gain(fed, value);
        mark_seeded(fed);
      }
      log_info("[stereo] unlink gain handover: %s %u = %.1f dB", v.bank, unsigned(upper), value);
    }
  }
  count_write();

  const uint32_t target = op == 3 ? kMidSideLower : (op == 1 ? kStereoLower : kMono);
  bool confirmed = false;
  int lower_ch = -1;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (wait_stop(50)) break;
    lower_ch = channel_fed_from(v.bank, lower);
    int upper_ch = channel_fed_from(v.bank, upper);
    if (lower_ch >= 0) patch_read_mode_one(lower_ch);
    if (upper_ch >= 0) patch_read_mode_one(upper_ch);
    if (lower_ch < 0 || channel_record(lower_ch).link_mode == target) {
      confirmed = true;
      break;
    }
  }
  gangs_rebuild();
  if (!confirmed) {
    log_info("[stereo] ch=%d %s %u/%u -> %s: the desk did not confirm it", int(channel), v.bank,
             unsigned(lower), unsigned(upper), mode);
    return reply_with(reply, reply_size, ControlResult::Refused,
                      "the desk did not confirm the stereo link");
  }
  return ControlResult::Done;
}

}  // namespace ks
