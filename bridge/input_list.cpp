#include "bridge/input_list.h"

#include <cstdarg>
#include <cstdio>
#include <cmath>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/text.h"
#include "bridge/timebase.h"

namespace ks {

namespace {

constexpr int kUnansweredStop = 4;
constexpr std::uint32_t kRetryMs = 15;

ControlResult say(char* reply, std::int32_t len, ControlResult r, const char* fmt, ...)
    KS_PRINTF(4, 5);
ControlResult say(char* reply, std::int32_t len, ControlResult r, const char* fmt, ...) {
  if (reply && len > 0) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(reply, static_cast<std::size_t>(len), fmt, ap);
    va_end(ap);
  }
  return r;
}

// The list's count and serial are read by the tray while we write: entries first, then the count
// and serial with release stores.
void set_count(StatusBlock* b, std::uint32_t n) { shm_store(b->input_list_count, n); }
void bump_serial(StatusBlock* b) { shm_add(b->input_list_serial, 1); }

int first_watched_channel(const char* group, std::int32_t n) {
  int watch = watch_count();
  for (int ch = 0; ch < watch; ++ch) {
    ChannelView v = channel_view(ch);
    if (static_cast<std::int32_t>(v.input) == n && iequals(v.bank, group)) return ch;
  }
  return -1;
}

void note_fed_channels(ListedInput& e, const char* group, std::int32_t n) {
  int watch = watch_count();
  e.fed_count = 0;
  for (int ch = 0; ch < watch && e.fed_count < kListedFedMax; ++ch) {
    ChannelView v = channel_view(ch);
    if (static_cast<std::int32_t>(v.input) == n && iequals(v.bank, group))
      e.fed[e.fed_count++] = static_cast<std::uint8_t>(ch);
  }
}

// One input not fed to LV1: ask the desk. False when it did not answer.
bool ask_desk(const char* group, std::int32_t n, bool preamp, ListedInput& e) {
  const DeskDriver* d = desk_driver();
  char name[24] = {};
  if (preamp && d->headamp_type) {
    std::uint32_t type = 0xFFFFFFFFu;
    if (d->headamp_type(group, n, &type) && static_cast<std::int32_t>(type) < 2) {
      if (d->read_name) d->read_name(group, n, name, sizeof name);
      name[sizeof name - 1] = '\0';
      set_field_text(e.name, name);
      return true;
    }
  }
  auto read_name = [&] {
    std::memset(name, 0, sizeof name);
    bool ok = d->read_name && d->read_name(group, n, name, sizeof name);
    name[sizeof name - 1] = '\0';
    return ok;
  };
  std::uint8_t on = 0;
  auto read_ph = [&] { return preamp && d->read_phantom && d->read_phantom(group, n, &on); };
  bool named = read_name();
  bool ph = read_ph();
  if (!named && !ph) {
    if (wait_stop(kRetryMs)) return false;
    named = read_name();
    ph = read_ph();
  }
  if (preamp && named && !ph) {
    if (wait_stop(kRetryMs)) return false;
    ph = read_ph();
  }
  bool listed = preamp ? (named || ph) : named;
  if (!listed) return false;
  set_field_text(e.name, named ? name : "");
  e.has_head_amp = preamp && ph ? 1 : 0;
  e.phantom = ph && on ? 1 : 0;
  return true;
}

}  // namespace

ControlResult scan_group(const char* group, char* reply, std::int32_t reply_len) {
  if (!desk_link_alive())
    return say(reply, reply_len, ControlResult::DeskNotAnswering, "the desk is not answering");
  if (!group || !*group)
    return say(reply, reply_len, ControlResult::Refused, "no source group named");
  if (!patch_is_read())
    return say(reply, reply_len, ControlResult::Refused, "the patch has not been read yet");
  StatusBlock* b = status_block();
  if (!b) return say(reply, reply_len, ControlResult::Refused, "no status block");
  const DeskDriver* d = desk_driver();
  char g[kBankBytes];
  copy_text(g, sizeof g, group);

  char shown[kBankBytes + 1];
  copy_field_text(shown, b->input_list_group, sizeof b->input_list_group);
  if (!iequals(shown, g)) {
    set_count(b, 0);
    set_field_text(b->input_list_group, "");
    bump_serial(b);
  }
  std::uint32_t noted_seq = highest_ring_seq(b->ring);
  bool preamp = d->is_preamp_bank && d->is_preamp_bank(g);
  std::int32_t size = 64;
  if (d->bank_size) {
    std::uint32_t s = d->bank_size(g);
    if (s >= 1 && s <= 63) size = static_cast<std::int32_t>(s);
  }
  Tick start = clock_now();
  std::uint32_t listed = 0;
  int unanswered = 0;
  int protect_n = protect_list_count();
  for (std::int32_t n = 1; n <= size; ++n) {
    if (unanswered >= kUnansweredStop || stop_requested()) break;
    if (highest_ring_seq(b->ring) != noted_seq) {
      log_info("[reroute] scan of %s abandoned at %d - a newer request is waiting", g,
               static_cast<int>(n));
      break;
    }
    ListedInput e;
    std::memset(&e, 0, sizeof e);
    int ch = first_watched_channel(g, n);
    if (ch >= 0) {
      ChannelView v = channel_view(ch);
      set_field_text(e.name, channel_name(ch));
      e.has_head_amp = v.has_head_amp ? 1 : 0;
      e.phantom = b->phantom[ch] ? 1 : 0;
      if (v.has_head_amp) {
        e.gain_db = b->gain_db[ch];
        e.gain_valid = 1;
      }
    } else if (!ask_desk(g, n, preamp, e)) {
      ++unanswered;
      continue;
    }
    e.input = static_cast<std::uint16_t>(n);
    e.is_protected =
        protect_n > 0 && protect_list_contains(g, static_cast<std::uint32_t>(n)) ? 1 : 0;
    note_fed_channels(e, g, n);
    b->input_list[listed] = e;
    unanswered = 0;
    ++listed;
    set_field_text(b->input_list_group, g);
    set_count(b, listed);
    if (listed % 8 == 0) bump_serial(b);
    if (listed >= kListedInputs) break;
  }
  set_field_text(b->input_list_group, g);
  set_count(b, listed);
  bump_serial(b);
  log_info("[reroute] scanned %s: %u input(s) in %lu ms (stopped: %s)", g,
           static_cast<unsigned>(listed),
           static_cast<unsigned long>(ticks_elapsed(clock_now(), start)),
           listed >= kListedInputs         ? "hit the cap"
           : unanswered >= kUnansweredStop ? "4 consecutive unanswered"
                                           : "end of the group");
  if (listed > 0) return ControlResult::Done;
  return say(reply, reply_len, ControlResult::Refused, "the desk listed no inputs in that group");
}

ControlResult reread_listed_input(const char* group, std::int32_t input, char* reply,
                                  std::int32_t reply_len) {
  if (!desk_link_alive())
    return say(reply, reply_len, ControlResult::DeskNotAnswering, "the desk is not answering");
  if (!group || !*group || input < 1)
    return say(reply, reply_len, ControlResult::Refused, "no input was named");
  StatusBlock* b = status_block();
  if (!b) return say(reply, reply_len, ControlResult::Refused, "no status block");
  char shown[kBankBytes + 1];
  copy_field_text(shown, b->input_list_group, sizeof b->input_list_group);
  if (!iequals(shown, group))
    return say(reply, reply_len, ControlResult::Refused, "that group is not the one being shown");
  std::uint32_t count = shm_load(b->input_list_count);
  if (count > kListedInputs) count = kListedInputs;
  ListedInput* e = nullptr;
  for (std::uint32_t i = 0; i < count && !e; ++i)
    if (b->input_list[i].input == input) e = &b->input_list[i];
  if (!e)
    return say(reply, reply_len, ControlResult::Refused,
               "that input is not in the list being shown");
  if (!e->has_head_amp) {
    e->gain_valid = 0;
    return ControlResult::Done;
  }
  const DeskDriver* d = desk_driver();
  if (!d->read_preamp)
    return say(reply, reply_len, ControlResult::Refused, "this desk cannot report a channel");
  double db = 0.0;
  std::uint8_t on = 0, valid = 0;
  if (!d->read_preamp(shown, input, &db, &on, &valid))
    return say(reply, reply_len, ControlResult::Refused, "the desk did not answer for %s %d", shown,
               static_cast<int>(input));
  bool ok = valid != 0 && std::isfinite(db);
  e->gain_db = ok ? db : 0.0;
  e->gain_valid = ok ? 1 : 0;
  e->phantom = on ? 1 : 0;
  return ControlResult::Done;
}

}  // namespace ks
