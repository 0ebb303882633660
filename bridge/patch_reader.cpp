#include "bridge/patch_reader.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"

namespace ks {

namespace {

const char* const kSlots[2] = {"MOD", "CRD"};
const char* const kPorts[4] = {"A", "B", "C", "SC"};

// Set once, never cleared while loaded.
std::atomic<bool> g_cards_checked{false};
std::atomic<bool> g_wsg_slot_known{false};
std::atomic<bool> g_ports_checked{false};
std::atomic<bool> g_slot_switch_done{false};

const DeskDriver* drv() { return desk_driver(); }

bool op_waiting() { return framework_hooks().control_op_waiting(); }

bool is_preamp_bank(const char* bank) {
  const DeskDriver* d = drv();
  return d && d->is_preamp_bank && d->is_preamp_bank(bank);
}

// The highest input number a bank can have: the driver's size when it gives one of 1..63.
uint32_t bank_limit(const char* bank) {
  const DeskDriver* d = drv();
  if (d && d->bank_size) {
    uint32_t n = d->bank_size(bank);
    if (n >= 1 && n <= 63) return n;
  }
  return 64;
}

// Which leg a mode names must match the input: lower legs are odd inputs, upper legs even ones.
bool mode_fits(uint32_t mode, uint32_t input) {
  switch (mode) {
    case kMono: return true;
    case kStereoLower:
    case kMidSideLower: return input % 2 == 1;
    case kStereoUpper:
    case kMidSideUpper: return input >= 2 && input % 2 == 0;
    default: return false;
  }
}

// read_mode of a routed input, checked. False: no usable answer.
bool read_mode_checked(const char* bank, uint32_t input, uint32_t* mode) {
  const DeskDriver* d = drv();
  *mode = 0;
  if (!d || !d->read_mode) return false;
  uint32_t m = 0;
  if (!d->read_mode(bank, int32_t(input), &m)) return false;
  if (!mode_fits(m, input)) {
    log_info(
        "[patch] %s %u: the desk reports mode %u, which does not fit that input - read as mono",
        bank, unsigned(input), unsigned(m));
    m = 0;
  }
  *mode = m;
  return true;
}

uint32_t head_amp_input_for(uint32_t input, uint32_t mode) {
  return (mode == kStereoUpper || mode == kMidSideUpper) ? input - 1 : input;
}

int watched() { return watch_count(); }

void set_card(const char* slot) { settings().card.set(slot); }

// Head-amp summary: "[ha] LCL: 1=3 2=3 ...", one line per run of channels of one bank.
void log_head_amp_summary() {
  char line[480] = "";
  char line_bank[8] = "";
  int n = watched();
  for (int ch = 0; ch < n; ++ch) {
    ChannelRecord r = channel_record(ch);
    if (!source_routed(r.bank, r.input) || !is_preamp_bank(r.bank)) continue;
    if (!line[0] || !iequals(line_bank, r.bank)) {
      if (line[0]) log_info("%s", line);
      copy_text(line_bank, sizeof line_bank, r.bank);
      line[0] = '\0';
      append_text(line, sizeof line, "[ha] %s:", r.bank);
    }
    // Entries go in while the line is short; one that would not fit whole is left out.
    if (std::strlen(line) >= 464) continue;
    char entry[32];
    std::snprintf(entry, sizeof entry, " %u=%d", unsigned(r.input), int(r.head_amp_type));
    if (std::strlen(line) + std::strlen(entry) < sizeof line)
      append_text(line, sizeof line, "%s", entry);
  }
  if (line[0]) log_info("%s", line);
}

}  // namespace

bool source_routed(const char* bank, uint32_t input) {
  return input >= 1 && bank && bank[0] && !iequals(bank, "OFF");
}

void patch_reader_reset() {
  g_cards_checked.store(false);
  g_wsg_slot_known.store(false);
  g_ports_checked.store(false);
  g_slot_switch_done.store(false);
}

void patch_read_parked(int32_t channel) {
  if (!valid_channel(channel)) return;
  ChannelRecord r = channel_record(channel);
  if (!r.has_head_amp) {
    r.parked_valid = 0;
    channel_store(channel, r);
    return;
  }
  double db = 0;
  const DeskDriver* d = drv();
  if (d && d->read_gain && d->read_gain(r.bank, int32_t(r.input), &db) && std::isfinite(db)) {
    r.parked_gain = db;
    r.parked_valid = 1;
    log_detail("[patch] %s %u parked node holds %.1f dB", r.bank, unsigned(r.input), db);
  } else {
    r.parked_valid = 0;
  }
  channel_store(channel, r);
}

int32_t patch_read_one(uint32_t channel) {
  if (channel >= uint32_t(kChannelCount)) return 0;
  const int ch = int(channel);
  const DeskDriver* d = drv();
  char bank[8];
  uint32_t input = 0;
  char card[8];
  settings().card.get(card);
  // The driver's bank must end within its 8 bytes; a longer name would be some other bank.
  char raw[9] = {};
  if (!d || !d->read_source) return -1;
  if (!d->read_source(card, channel + 1, raw, 8, &input)) return -1;
  if (bounded_len(raw, 8) > 7) {
    log_info("[patch] LV1 in %d: the desk gave a source bank that does not fit - ignored", ch + 1);
    return -1;
  }
  copy_text(bank, sizeof bank, raw);

  ChannelRecord r = channel_record(ch);
  const bool routed = source_routed(bank, input);
  if (iequals(r.bank, bank) && r.input == input) {
    if (d->headamp_type && routed && is_preamp_bank(bank)) {
      uint32_t type = 0;
      if (!d->headamp_type(bank, int32_t(input), &type)) return 0;
      r.head_amp_type = int32_t(type);
      bool present = input >= 1 && input <= bank_limit(bank) && input_within_port(bank, input) &&
                     int32_t(type) >= 2;
      if (present != (r.has_head_amp != 0)) {
        r.has_head_amp = present;
        channel_store(ch, r);
        log_info("[patch] %s %u head amp is now %s (desk reports type %d)", bank, unsigned(input),
                 present ? "present" : "absent", int(int32_t(type)));
        mask_set(watcher_flags().revalidate_bits, ch);
        return 1;
      }
      channel_store(ch, r);
    }
    return 0;
  }

  // A new source.
  copy_text(r.bank, sizeof r.bank, bank);
  r.input = input;
  bool has = input >= 1 && is_preamp_bank(bank) && input_within_port(bank, input);
  if (has && input > bank_limit(bank)) {
    log_info("[patch] %s %u is beyond the inputs of that bank - LV1 in %d gets no preamp controls",
             bank, unsigned(input), ch + 1);
    has = false;
  }
  r.head_amp_type = -1;
  if (routed && is_preamp_bank(bank) && d->headamp_type) {
    uint32_t type = 0;
    if (d->headamp_type(bank, int32_t(input), &type)) r.head_amp_type = int32_t(type);
  }
  if (r.head_amp_type >= 0) has = has && r.head_amp_type >= 2;
  r.has_head_amp = has;
  uint32_t mode = 0;
  if (routed && !read_mode_checked(bank, input, &mode)) want(watcher_flags().stereo_wanted);
  r.link_mode = uint8_t(mode);
  r.head_amp_input = routed ? head_amp_input_for(input, mode) : input;
  channel_store(ch, r);
  if (r.head_amp_input != r.input) {
    log_info("[patch] %s %u is a stereo partner - head amp is %s %u", bank, unsigned(input), bank,
             unsigned(r.head_amp_input));
    patch_read_parked(ch);
  } else if (r.parked_valid) {
    r.parked_valid = 0;
    channel_store(ch, r);
  }
  log_detail("[patch] LV1 in %d <- %s %u%s", ch + 1, bank, unsigned(input),
             has ? "" : "  (no preamp)");
  mask_set(watcher_flags().revalidate_bits, ch);
  return 1;
}

void patch_read_cards() {
  if (g_cards_checked.load()) return;
  const DeskDriver* d = drv();
  if (!d || !d->read_card_type) {
    g_cards_checked.store(true);
    return;
  }
  char text[2][16] = {};
  bool answered[2] = {};
  int answering = 0, cards = 0, card_slot = -1;
  for (int i = 0; i < 2; ++i) {
    answered[i] = d->read_card_type(kSlots[i], text[i], 16);
    text[i][15] = '\0';
    if (!answered[i]) continue;
    ++answering;
    if (std::strstr(text[i], "WSG")) {
      ++cards;
      card_slot = i;
    }
  }
  if (answering == 0) return;
  g_cards_checked.store(true);
  log_info("[patch] card slots: MOD=%s CRD=%s", answered[0] && text[0][0] ? text[0] : "?",
           answered[1] && text[1][0] ? text[1] : "?");
  char card[8];
  settings().card.get(card);
  if (cards == 1) {
    g_wsg_slot_known.store(true);
    if (!iequals(card, kSlots[card_slot])) {
      log_info("[patch] the WSG card is in %s - reading LV1's patch from %s (was %s)",
               kSlots[card_slot], kSlots[card_slot], card);
      set_card(kSlots[card_slot]);
      channels_clear_sources();
    }
  } else if (cards == 0) {
    log_info("[patch] the desk reports no WSG card in either slot - staying on %s", card);
  }
}

void patch_read_ports() {
  if (g_ports_checked.load()) return;
  const DeskDriver* d = drv();
  if (!d || !d->read_port_devices) {
    g_ports_checked.store(true);
    return;
  }
  bool any = false;
  for (int p = 0; p < 4; ++p) {
    char devices[128] = {};
    bool answered = d->read_port_devices(kPorts[p], devices, sizeof devices);
    devices[sizeof devices - 1] = '\0';
    any = any || answered;
    const char* remote = "";
    if (p < 3) {
      uint8_t on = 0;
      if (d->read_port_remote && d->read_port_remote(kPorts[p], &on))
        remote = on ? ", HA remote on" : ", HA remote OFF";
      else
        remote = ", HA remote ?";
    }
    int32_t limit = -1;
    if (answered && d->stagebox_channels) {
      uint32_t n = d->stagebox_channels(devices);
      limit = (n == 0xFFFFFFFFu || n > 0x7FFFFFFFu) ? -1 : int32_t(n);
    }
    set_port_input_limit(p, limit);
    log_info("[ports] %s: %s%s%s%s", kPorts[p],
             !answered ? "(no answer)" : (devices[0] ? devices : "(nothing connected)"), remote,
             limit >= 0 ? ", known box" : "", "");
    if (limit >= 0) log_info("[ports] %s: %d preamp input(s) on that box", kPorts[p], int(limit));
  }
  if (any) g_ports_checked.store(true);
}

bool patch_try_other_slot() {
  if (g_slot_switch_done.load() || g_wsg_slot_known.load()) return false;
  int n = watched();
  for (int ch = 0; ch < n; ++ch) {
    ChannelRecord r = channel_record(ch);
    if (source_routed(r.bank, r.input)) return false;
  }
  char card[8];
  settings().card.get(card);
  const DeskDriver* d = drv();
  for (const char* slot : kSlots) {
    if (iequals(slot, card)) continue;
    int routed = 0;
    bool all = true;
    for (int k = 1; k <= n; ++k) {
      char bank[8];
      uint32_t input = 0;
      if (stop_requested() || !d || !desk_read_source(slot, uint32_t(k), bank, &input)) {
        all = false;
        break;
      }
      if (source_routed(bank, input)) ++routed;
    }
    if (all && routed > 0) {
      log_info(
          "[patch] card %s has no routed outputs; card %s has %d - reading LV1's patch from %s",
          card, slot, routed, slot);
      set_card(slot);
      channels_clear_sources();
      g_slot_switch_done.store(true);
      return true;
    }
  }
  log_info("[patch] card %s has no routed outputs, and no other card slot does either", card);
  g_slot_switch_done.store(true);
  return false;
}

bool patch_read_all() {
  const DeskDriver* d = drv();
  if (!desk_link_alive()) return true;
  for (;;) {
    patch_read_cards();
    patch_read_ports();
    if (d && d->read_tcplock) {
      uint8_t on = 0;
      if (d->read_tcplock(&on) && (on != 0) != tcp_lock.load()) {
        tcp_lock.store(on != 0);
        log_info(
            on ? "[patch] the desk is set to refuse changes from the network (TCP lock) - nothing Kestrune "
                 "sends will change it"
               : "[patch] the desk accepts changes from the network again (TCP lock off)");
      }
    }
    int n = watched();
    int read = 0, changed = 0, failures = 0;
    bool cut_short = false;
    for (int ch = 0; ch < n; ++ch) {
      // A stop must not wait for a slow desk to answer every channel.
      if (stop_requested() || op_waiting()) {
        cut_short = true;
        break;
      }
      int32_t r = patch_read_one(uint32_t(ch));
      if (r < 0) {
        if (++failures >= 3) break;
        continue;
      }
      ++read;
      failures = 0;
      changed += r;
    }
    if (!cut_short && read == n && patch_try_other_slot()) continue;
    if (read > 0) set_patch_read(clock_now());
    for (int ch = 0; ch < n; ++ch) {
      ChannelRecord r = channel_record(ch);
      if (r.has_head_amp && r.bank[0]) read_bank_range(r.bank);
    }
    if (changed > 0) {
      log_info("[patch] %d channel(s) re-patched", changed);
      log_head_amp_summary();
      want(watcher_flags().reseed_wanted);
      want(watcher_flags().names_wanted);
      framework_hooks().notify_channel_types();
      gangs_rebuild();
    }
    return !cut_short;
  }
}

namespace {

struct StereoRead {
  bool have = false;
  uint32_t mode = 0;
  uint32_t head_amp_input = 0;
};

// Step 3 of the stereo check for one channel; true when it changed.
bool apply_stereo(int ch, const StereoRead& s) {
  ChannelRecord r = channel_record(ch);
  bool changed = r.link_mode != s.mode || r.head_amp_input != s.head_amp_input;
  bool was_partner = r.head_amp_input != 0 && r.head_amp_input != r.input;
  r.link_mode = uint8_t(s.mode);
  r.head_amp_input = s.head_amp_input;
  bool partner_now = s.head_amp_input != 0 && s.head_amp_input != r.input;
  if (!partner_now) r.parked_valid = 0;
  channel_store(ch, r);
  if (partner_now && !was_partner) patch_read_parked(ch);
  return changed;
}

}  // namespace

void patch_read_stereo() {
  if (!desk_link_alive() || !patch_is_read()) return;
  int n = watched();
  StereoRead reads[kChannelCount];
  int failures = 0;
  for (int ch = 0; ch < n; ++ch) {
    if (stop_requested() || op_waiting()) break;
    ChannelRecord r = channel_record(ch);
    if (!source_routed(r.bank, r.input)) continue;
    uint32_t mode = 0;
    if (read_mode_checked(r.bank, r.input, &mode)) {
      reads[ch].have = true;
      reads[ch].mode = mode;
      reads[ch].head_amp_input = head_amp_input_for(r.input, mode);
      failures = 0;
    } else if (++failures >= 3) {
      return;  // a desk that stops answering changes nothing at all
    }
  }
  int changed = 0;
  for (int ch = 0; ch < n; ++ch)
    if (reads[ch].have && apply_stereo(ch, reads[ch])) ++changed;
  if (changed) {
    log_info("[patch] %d channel(s) changed stereo linking", changed);
    gangs_rebuild();
  }
}

void patch_read_mode_one(int32_t channel) {
  if (!valid_channel(channel) || channel >= watched() || !desk_link_alive() || !patch_is_read())
    return;
  ChannelRecord r = channel_record(channel);
  if (!source_routed(r.bank, r.input)) return;
  uint32_t mode = 0;
  if (!read_mode_checked(r.bank, r.input, &mode)) return;
  apply_stereo(channel, StereoRead{true, mode, head_amp_input_for(r.input, mode)});
}

void patch_read_names() {
  if (!desk_link_alive() || !patch_is_read()) return;
  static char names[kChannelCount][20];
  std::memset(names, 0, sizeof names);
  int n = watched();
  int failures = 0, labelled = 0;
  for (int ch = 0; ch < n; ++ch) {
    if (stop_requested()) return;
    ChannelRecord r = channel_record(ch);
    if (r.input == 0 || !r.bank[0] || !r.has_head_amp) continue;
    char name[20];
    if (desk_read_name(r.bank, int32_t(r.input), name, sizeof name)) {
      failures = 0;
      if (name[0]) {
        copy_text(names[ch], sizeof names[ch], name);
        ++labelled;
      }
    } else if (++failures >= 3) {
      return;
    }
  }
  set_channel_names(names);
  log_info("[names] %d of %d channel(s) labelled", labelled, n);
}

}  // namespace ks
