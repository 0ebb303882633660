#include "bridge/channel_model.h"

#include <cmath>
#include <cstring>

#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/settings.h"
#include "bridge/shared_values.h"
#include "bridge/text.h"
#include "bridge/timebase.h"

namespace ks {

static_assert(sizeof(ChannelRecord) == 32);

std::atomic<bool> tcp_lock{false};

namespace {

SeqCell<ChannelRecord> g_records[kChannelCount];
std::atomic<bool> g_patch_read{false};
std::atomic<Tick> g_patch_read_tick{0};

SeqCell<BankRange> g_ranges[kRangeCapacity];
std::atomic<int> g_range_count{0};

std::atomic<int32_t> g_port_limit[4] = {-1, -1, -1, -1};

char g_names[kChannelCount][20];

// The gang each channel belonged to when the gangs were last logged: a bit set of its members.
uint64_t g_gang_members[kChannelCount];

const char* const kPorts[4] = {"A", "B", "C", "SC"};

bool range_is_sane(double min, double max, double step) {
  return std::isfinite(min) && std::isfinite(max) && std::isfinite(step) && min < max &&
         step >= 0.0 && step <= (max - min);
}

}  // namespace

ChannelRecord empty_channel_record() {
  ChannelRecord r{};
  r.head_amp_type = -1;
  return r;
}

ChannelRecord channel_record(int ch) {
  if (!valid_channel(ch)) return empty_channel_record();
  return g_records[ch].load();
}

void channel_store(int ch, const ChannelRecord& rec) {
  if (!valid_channel(ch)) return;
  ChannelRecord r = rec;
  r.bank[7] = '\0';
  g_records[ch].store(r);
}

void channels_clear_sources() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    ChannelRecord r = g_records[ch].load();
    std::memset(r.bank, 0, sizeof r.bank);
    r.input = 0;
    g_records[ch].store(r);
  }
}

bool patch_is_read() { return g_patch_read.load(std::memory_order_acquire); }
void set_patch_read(Tick now) {
  g_patch_read_tick.store(now, std::memory_order_relaxed);
  g_patch_read.store(true, std::memory_order_release);
}
Tick patch_read_tick() { return g_patch_read_tick.load(std::memory_order_relaxed); }

ChannelView channel_view(int ch) {
  ChannelView v{};
  if (!valid_channel(ch)) return v;
  if (!patch_is_read()) {
    settings().bank.get(v.bank);
    int64_t input = int64_t(settings().base.load()) + ch;
    v.input = input > 0 ? uint32_t(input) : 0;
    v.gain_input = v.input;
    v.has_head_amp = true;
    return v;
  }
  ChannelRecord r = g_records[ch].load();
  if (r.bank[0])
    copy_text(v.bank, sizeof v.bank, r.bank);
  else
    settings().bank.get(v.bank);
  v.input = r.input;
  v.gain_input = r.head_amp_input ? r.head_amp_input : r.input;
  v.has_head_amp = r.has_head_amp != 0;
  v.link_mode = r.link_mode;
  return v;
}

std::string channel_bank(int ch) { return channel_view(ch).bank; }
uint32_t channel_input(int ch) { return channel_view(ch).input; }
uint32_t channel_gain_input(int ch) { return channel_view(ch).gain_input; }
bool channel_has_head_amp(int ch) { return valid_channel(ch) && channel_view(ch).has_head_amp; }

// ---- Gain ranges ----

int range_count() {
  int n = g_range_count.load(std::memory_order_acquire);
  return n < 0 ? 0 : (n > kRangeCapacity ? kRangeCapacity : n);
}

bool gain_range_at(int index, BankRange& out) {
  if (index < 0 || index >= range_count()) return false;
  out = g_ranges[index].load();
  return true;
}

int gain_range_index(const char* bank) {
  if (!bank || !bank[0]) return -1;
  std::string_view b(bank, bounded_len(bank, 8));
  int n = range_count();
  for (int i = 0; i < n; ++i) {
    BankRange e = g_ranges[i].load();
    if (iequals(std::string_view(e.bank, bounded_len(e.bank, 8)), b)) return i;
  }
  return -1;
}

bool gain_range_for_bank(const char* bank, BankRange& out) {
  return gain_range_at(gain_range_index(bank), out);
}

GainRange channel_gain_range(int ch) {
  if (!valid_channel(ch) || !patch_is_read()) return kDefaultRange;
  ChannelView v = channel_view(ch);
  BankRange e;
  if (!gain_range_for_bank(v.bank, e)) return kDefaultRange;
  return GainRange{e.min, e.max, e.step};
}

namespace {

// Asks the driver for the bank's range (input 1); a definition that makes no sense counts as none.
bool ask_range(BankRange& e) {
  double min = 0, max = 0, step = 0;
  const DeskDriver* d = desk_driver();
  if (!d || !d->gain_range || !d->gain_range(e.bank, 1, &min, &max, &step) ||
      !range_is_sane(min, max, step))
    return false;
  e.min = min;
  e.max = max;
  e.step = step;
  e.known = 1;
  return true;
}

}  // namespace

void read_bank_range(const char* bank) {
  if (!bank || !bank[0] || gain_range_index(bank) >= 0) return;
  int n = range_count();
  if (n >= kRangeCapacity) return;
  BankRange e{};
  copy_text(e.bank, sizeof e.bank, bank);
  if (ask_range(e)) {
    log_info("[range] %s: %.1f .. %.1f dB, step %.2f dB (from the node definition)", e.bank, e.min,
             e.max, e.step);
  } else {
    e.min = kUnknownRangeMin;
    e.max = kUnknownRangeMax;
    e.step = kUnknownRangeStep;
    e.last_fail_tick = clock_now();
    log_info(
        "[range] %s: the desk gave no definition - using defaults (%.1f .. %.1f dB, step %.2f)",
        e.bank, kUnknownRangeMin, kUnknownRangeMax, kUnknownRangeStep);
  }
  g_ranges[n].store(e);
  g_range_count.store(n + 1, std::memory_order_release);
}

void retry_unknown_range() {
  Tick now = clock_now();
  int n = range_count();
  for (int i = 0; i < n; ++i) {
    BankRange e = g_ranges[i].load();
    if (e.known || !ticks_elapsed_at_least(now, e.last_fail_tick, 60000)) continue;
    if (ask_range(e))
      log_info("[range] %s: definition arrived on a retry: %.1f .. %.1f dB, step %.2f", e.bank,
               e.min, e.max, e.step);
    else
      e.last_fail_tick = now;
    g_ranges[i].store(e);
    return;
  }
}

double step_and_clamp(double db, const GainRange& r) {
  double v = db;
  if (r.step > 0) v = r.min + r.step * std::floor((db - r.min) / r.step + 0.5);
  if (v < r.min) v = r.min;
  if (v > r.max) v = r.max;
  return v;
}

// ---- Ports ----

int port_index(const char* bank) {
  if (!bank) return -1;
  std::string_view b(bank, bounded_len(bank, 8));
  for (int i = 0; i < 4; ++i)
    if (iequals(b, kPorts[i])) return i;
  return -1;
}

void set_port_input_limit(int port, int32_t limit) {
  if (port >= 0 && port < 4) g_port_limit[port].store(limit < 0 ? -1 : limit);
}

int32_t port_input_limit(int port) {
  return (port >= 0 && port < 4) ? g_port_limit[port].load() : -1;
}

bool input_within_port(const char* bank, uint32_t n) {
  int32_t limit = port_input_limit(port_index(bank));
  return limit < 0 || n <= uint32_t(limit);
}

// ---- Gangs ----

void gangs_rebuild() {
  int watch = watch_count();
  ChannelView views[kChannelCount];
  for (int ch = 0; ch < watch; ++ch) views[ch] = channel_view(ch);
  uint64_t members[kChannelCount] = {};
  for (int ch = 0; ch < watch; ++ch) {
    if (!views[ch].has_head_amp) continue;
    for (int other = 0; other < watch; ++other) {
      if (!views[other].has_head_amp) continue;
      if (views[other].gain_input == views[ch].gain_input &&
          iequals(views[other].bank, views[ch].bank))
        members[ch] |= uint64_t(1) << other;
    }
    if ((members[ch] & (members[ch] - 1)) == 0) members[ch] = 0;  // a gang has two or more
  }
  for (int ch = watch; ch < kChannelCount; ++ch) members[ch] = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    uint64_t m = members[ch];
    bool changed = m != g_gang_members[ch];
    g_gang_members[ch] = m;
    // Each gang is logged once, by its lowest member.
    if (!m || !changed || (m & ((uint64_t(1) << ch) - 1))) continue;
    char list[512] = "";
    int count = 0;
    for (int k = 0; k < kChannelCount; ++k) {
      if (!(m >> k & 1)) continue;
      append_text(list, sizeof list, "%s%d(%s %u)", count ? ", " : "", k + 1, views[k].bank,
                  unsigned(views[k].input));
      ++count;
    }
    log_info("[gang] %s %u drives %d LV1 channel(s): %s", views[ch].bank,
             unsigned(views[ch].gain_input), count, list);
  }
}

bool channel_model_watch_shrunk(int old_watch, int new_watch) {
  if (new_watch < 0) new_watch = 0;
  if (old_watch > kChannelCount) old_watch = kChannelCount;
  bool changed = false;
  for (int ch = new_watch; ch < kChannelCount; ++ch) {
    ChannelRecord r = g_records[ch].load();
    ChannelRecord e = empty_channel_record();
    if (std::memcmp(&r, &e, sizeof r) != 0) {
      g_records[ch].store(e);
      changed = true;
    }
  }
  if (changed) gangs_rebuild();
  return changed;
}

int channel_for_input(const char* bank, uint32_t input) {
  if (!bank) return -1;
  std::string_view b(bank, bounded_len(bank, 8));
  int watch = watch_count();
  for (int ch = 0; ch < watch; ++ch) {
    ChannelView v = channel_view(ch);
    if (v.has_head_amp && v.input == input && iequals(v.bank, b)) return ch;
  }
  return -1;
}

// ---- Names ----

const char* channel_name(int ch) { return valid_channel(ch) ? g_names[ch] : ""; }

void set_channel_names(const char (*names)[20]) {
  for (int ch = 0; ch < kChannelCount; ++ch)
    copy_text(g_names[ch], sizeof g_names[ch],
              std::string_view(names[ch], bounded_len(names[ch], 20)));
}

void channel_model_reset() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    g_records[ch].store(empty_channel_record());
    g_names[ch][0] = '\0';
    g_gang_members[ch] = 0;
  }
  g_patch_read.store(false);
  g_patch_read_tick.store(0);
  g_range_count.store(0);
  for (auto& l : g_port_limit) l.store(-1);
  tcp_lock.store(false);
}

}  // namespace ks
