// The watcher's publish: the desk's state, every watched channel, the protect list, the source
// devices, the meters and the gain ranges written into the block, then the tray's watch request
// taken.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/status_block_shared.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/watcher.h"

namespace ks {

namespace {

// The ports line last logged (one writer: the watcher).
char g_ports_line[256] = {};

bool driver_has_meter_of(const ChannelView& v) { return v.bank[0] != '\0' && v.input > 0; }

void write_channels(StatusBlock* b) {
  const DeskDriver* d = desk_driver();
  bool read = patch_is_read();
  int watch = watch_count();
  int protect_n = protect_list_count();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (read && ch < watch) {
      ChannelRecord rec = channel_record(ch);
      ChannelView v = channel_view(ch);
      put_text(b->src_bank[ch], v.bank);
      b->src_input[ch] = v.input;
      b->has_head_amp[ch] = v.has_head_amp ? 1 : 0;
      double level = kNoLevelDb, peak = kNoLevelDb;
      bool clip = false;
      if (d && driver_has_meter_of(v)) {
        double x = 0;
        if (d->meter_now && d->meter_now(v.bank, static_cast<std::int32_t>(v.input), &x) &&
            std::isfinite(x))
          level = x;
        if (d->meter_peak && d->meter_peak(v.bank, static_cast<std::int32_t>(v.input), &x) &&
            std::isfinite(x))
          peak = x;
        if (d->meter_clip) clip = d->meter_clip(v.bank, static_cast<std::int32_t>(v.input));
      }
      b->level_db[ch] = level;
      b->peak_db[ch] = peak;
      b->clip[ch] = clip ? 1 : 0;
      put_text(b->channel_name[ch], channel_name(ch));
      b->link_mode[ch] = rec.link_mode <= kMidSideUpper ? rec.link_mode : 0;
      b->mute_state[ch] = (rec.mute_bits & kMutedByMute)         ? 1
                          : (rec.mute_bits & kMutedByDollarMute) ? 2
                                                                 : 0;
      b->is_protected[ch] = protect_n > 0 && protect_list_contains(v.bank, v.input) ? 1 : 0;
      b->parked_gain_db[ch] = rec.parked_valid ? rec.parked_gain : 0.0;
      b->parked_valid[ch] = rec.parked_valid ? 1 : 0;
    } else {
      std::memset(b->src_bank[ch], 0, sizeof b->src_bank[ch]);
      b->src_input[ch] = 0;
      b->has_head_amp[ch] = 0;
      b->level_db[ch] = kNoLevelDb;
      b->peak_db[ch] = kNoLevelDb;
      b->clip[ch] = 0;
      std::memset(b->channel_name[ch], 0, sizeof b->channel_name[ch]);
      b->link_mode[ch] = 0;
      b->mute_state[ch] = 0;
      b->is_protected[ch] = 0;
      b->parked_valid[ch] = 0;
    }
  }
}

void write_protect_list(StatusBlock* b) {
  std::uint32_t n = 0;
  for (int i = 0; i < static_cast<int>(kProtectCapacity); ++i) {
    char bank[8] = {};
    std::uint32_t input = 0;
    if (!protect_list_get(i, bank, sizeof bank, &input)) break;
    ProtectEntry& e = b->protect[n++];
    put_text(e.bank, bank);
    e.input = static_cast<std::uint16_t>(input > 0xFFFF ? 0xFFFF : input);
  }
  for (std::uint32_t i = n; i < kProtectCapacity; ++i)
    std::memset(&b->protect[i], 0, sizeof b->protect[i]);
  shm_store(b->protect_count, n);
}

void write_source_devices(StatusBlock* b) {
  const DeskDriver* d = desk_driver();
  if (!d || !d->aes50_port_present) {
    shm_store(b->source_device_count, 0);
    return;
  }
  static const char* const kPorts[] = {"A", "B"};
  char line[256] = {};
  std::uint32_t n = 0;
  int watch = watch_count();
  for (const char* port : kPorts) {
    std::int32_t present = d->aes50_port_present(port);
    if (present < -1 || present > 1) present = -1;
    std::uint32_t without = 0;
    for (int ch = 0; ch < watch; ++ch) {
      ChannelView v = channel_view(ch);
      if (!v.has_head_amp && iequals(v.bank, port)) ++without;
    }
    SourceDevice& s = b->source_devices[n++];
    put_text(s.port, port);
    s.device = present;
    s.strips_without_head_amp = without;
    if (present >= 0)
      append_text(line, sizeof line, "%s%s: %s, %u strip(s) from it without a knob",
                  line[0] ? "; " : "", port, present ? "box connected" : "NOTHING CONNECTED",
                  static_cast<unsigned>(without));
  }
  shm_store(b->source_device_count, n);
  if (std::strcmp(line, g_ports_line) != 0) {
    copy_text(g_ports_line, sizeof g_ports_line, line);
    if (line[0]) log_info("[ports] %s", line);
  }
}

void write_ranges(StatusBlock* b) {
  int n = range_count();
  if (n < 0) n = 0;
  if (n > static_cast<int>(kGroupRanges)) n = kGroupRanges;
  int watch = watch_count();
  for (int i = 0; i < n; ++i) {
    BankRange r{};
    GroupRange& g = b->ranges[i];
    if (!gain_range_at(i, r)) {
      std::memset(&g, 0, sizeof g);
      continue;
    }
    r.bank[sizeof r.bank - 1] = '\0';
    put_text(g.bank, r.bank);
    g.min = r.min;
    g.max = r.max;
    g.step = r.step;
    g.known = r.known ? 1 : 0;
    unsigned watched = 0;
    for (int ch = 0; ch < watch; ++ch)
      if (iequals(channel_view(ch).bank, r.bank)) ++watched;
    g.watched = static_cast<std::uint8_t>(watched > 255 ? 255 : watched);
  }
  for (int i = n; i < static_cast<int>(kGroupRanges); ++i)
    std::memset(&b->ranges[i], 0, sizeof b->ranges[i]);
  shm_store(b->range_count, static_cast<std::uint32_t>(n));
}

void write_mac(StatusBlock* b) {
  char mac[24] = {};
  if (const std::uint8_t* m = host_get_mac())
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
                  m[5]);
  put_text(b->mac, mac);
}

}  // namespace

void status_snapshot_forget() { g_ports_line[0] = '\0'; }

void status_block_sync() {
  StatusBlock* b = status_block();
  if (!b) return;
  Settings& s = settings();
  Tick now = clock_now();

  shm_store(b->desk_answering, watcher_desk_answering() ? 1 : 0);
  shm_store(b->publish_mark, 1);
  char bank[8];
  s.bank.get(bank);
  BankRange r{};
  bool known = gain_range_for_bank(bank, r) && r.known;
  b->range_min = known ? r.min : kUnknownRangeMin;
  b->range_max = known ? r.max : kUnknownRangeMax;
  b->range_step = known ? r.step : kUnknownRangeStep;
  put_text(b->watch_bank, bank);
  std::int32_t base = s.base.load();
  b->watch_base = base > 0 ? static_cast<std::uint32_t>(base) : 0;
  b->watch_count = static_cast<std::uint32_t>(watch_count());

  shm_store(b->lv1_loaded, host_live_gain_object() ? 1 : 0);
  write_mac(b);
  put_text(b->profile, "box");
  bool read = patch_is_read();
  b->patch_age_ms = read ? ticks_elapsed(now, patch_read_tick()) : kPatchNeverRead;
  AddressCheck a = status_address();
  b->degraded = !read ? 1 : (tcp_lock.load() || a.state == 1) ? 1 : 0;
  b->resync_echo = s.resync_lv1.load() ? 1 : 0;
  status_write_address();
  status_text_sync(b);
  write_channels(b);
  write_protect_list(b);
  write_source_devices(b);
  const DeskDriver* d = desk_driver();
  shm_store(b->meters_live, d && d->meters_flowing && d->meters_flowing() ? 1 : 0);
  shm_store(b->meter_frames, d && d->meter_frames ? d->meter_frames() : 0);
  shm_store(b->recv_count, d && d->received_count ? d->received_count() : 0);
  write_ranges(b);

  apply_watch_request(b);
}

}  // namespace ks
