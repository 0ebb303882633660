#include "bridge/status_block.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_text.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher.h"
#include "bridge/watcher_flags.h"
#include "os/guard.h"
#include "os/shared_memory.h"
#include "os/utf.h"
#include "shared/gain_object.h"
#include "shared/iobox.h"

namespace ks {

namespace {

// Publishing may be tried from discovery, from taking a desk and from the watcher at once.
std::mutex g_publish_lock;
SharedMemory g_mapping;
StatusBlock* g_memory = nullptr;
std::atomic<StatusBlock*> g_block{nullptr};
std::string g_name;  // built once

std::mutex g_address_lock;
AddressCheck g_address;

std::mutex g_text_lock;
char g_last_set_text[kStatusTextBytes] = {};

// Watcher-side memory of the block (one writer).
std::uint32_t g_applied_request_seq = 0;
char g_ports_line[256] = {};

void stamp(StatusBlock* b) {
  std::memset(b, 0, sizeof *b);
  b->magic = kStatusMagic;
  b->version = kStatusLayoutVersion;
}

void on_published(StatusBlock* b) {
  // A re-published block starts with an empty request_seq; a remembered one would swallow the
  // tray's next request if it happened to carry the same number.
  g_applied_request_seq = 0;
  g_ports_line[0] = '\0';
  g_block.store(b, std::memory_order_release);
  set_status_view(b);
}

template <std::size_t N>
void put_text(char (&field)[N], const char* text) {
  set_field_text(field, text ? text : "");
}

bool driver_has_meter_of(const ChannelView& v) { return v.bank[0] != '\0' && v.input > 0; }

}  // namespace

StatusBlock* status_block() { return g_block.load(std::memory_order_acquire); }

void status_block_use_memory(StatusBlock* mem) {
  std::lock_guard<std::mutex> hold(g_publish_lock);
  g_memory = mem;
  if (mem) {
    stamp(mem);
    on_published(mem);
  } else {
    StatusBlock* mapped = g_mapping.valid() ? static_cast<StatusBlock*>(g_mapping.data()) : nullptr;
    g_block.store(mapped);
    set_status_view(mapped);
  }
}

bool status_block_publish() {
  std::lock_guard<std::mutex> hold(g_publish_lock);
  if (g_block.load()) return true;
  if (g_memory) {
    stamp(g_memory);
    on_published(g_memory);
    return true;
  }
  if (g_name.empty()) g_name = std::string(kStatusBlockBaseName) + utf16_to_utf8(host_status_suffix());
  if (g_name.size() >= kStatusBlockNameMax) g_name.resize(kStatusBlockNameMax - 1);
  if (!g_mapping.valid() && !g_mapping.create(g_name, kStatusMappingSize)) {
    log_info("[shm] could not create the status block %s (error %u) - the dashboard will not see this module",
             g_name.c_str(), static_cast<unsigned>(g_mapping.last_error()));
    return false;
  }
  auto* b = static_cast<StatusBlock*>(g_mapping.data());
  stamp(b);
  on_published(b);
  log_info("[shm] status block published as %s", g_name.c_str());
  return true;
}

void status_set_address(const AddressCheck& check) {
  std::lock_guard<std::mutex> hold(g_address_lock);
  g_address = check;
  g_address.ip[sizeof g_address.ip - 1] = '\0';
  g_address.id[sizeof g_address.id - 1] = '\0';
  g_address.name[sizeof g_address.name - 1] = '\0';
}

AddressCheck status_address() {
  std::lock_guard<std::mutex> hold(g_address_lock);
  return g_address;
}

void status_write_address() {
  StatusBlock* b = status_block();
  if (!b) return;
  AddressCheck a = status_address();
  shm_store(b->address_state, a.state);
  shm_store(b->address_moves, a.moves);
  put_text(b->address_ip, a.ip);
  put_text(b->address_id, a.id);
  put_text(b->address_name, a.name);
}

namespace {

StatusTextInputs text_inputs(const StatusBlock* b) {
  StatusTextInputs in;
  in.desk_chosen = desk_chosen();
  in.decision = b ? b->discovery_decision : 0;
  in.answer_count = b ? b->answer_count : 0;
  in.address_state = status_address().state;
  in.patch_read = patch_is_read();
  in.control_refusals = control_refusals();
  in.tcp_lock = tcp_lock.load();
  return in;
}

void write_status_text(StatusBlock* b, const char* text) { put_text(b->status_text, text); }

}  // namespace

void status_set_text(const char* text) {
  if (!status_block_publish()) return;
  StatusBlock* b = status_block();
  if (!b) return;
  status_write_address();
  std::lock_guard<std::mutex> hold(g_text_lock);
  if (!text || !*text) {
    char current[kStatusTextBytes];
    copy_field_text(current, b->status_text, sizeof b->status_text);
    if (std::strcmp(current, g_last_set_text) == 0) {
      char line[kStatusTextBytes] = {};
      // Before a desk is chosen no watcher pass writes the line: say what discovery is at.
      if (!desk_chosen()) {
        StatusTextInputs in = text_inputs(b);
        DeskIdentity id = desk_identity();
        in.desk_display = id.name;
        choose_status_text(in, line, sizeof line);
      }
      write_status_text(b, line);
    }
    g_last_set_text[0] = '\0';
    return;
  }
  write_status_text(b, text);
  copy_text(g_last_set_text, sizeof g_last_set_text, text);
}

void status_desk_taken(const char* ip, const char* identity_line) {
  if (!status_block_publish()) return;
  StatusBlock* b = status_block();
  if (!b) return;
  put_text(b->desk_ip, ip);
  put_text(b->desk_line, identity_line);
}

namespace {

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
        if (d->meter_now && d->meter_now(v.bank, static_cast<std::int32_t>(v.input), &x) && std::isfinite(x)) level = x;
        if (d->meter_peak && d->meter_peak(v.bank, static_cast<std::int32_t>(v.input), &x) && std::isfinite(x)) peak = x;
        if (d->meter_clip) clip = d->meter_clip(v.bank, static_cast<std::int32_t>(v.input));
      }
      b->level_db[ch] = level;
      b->peak_db[ch] = peak;
      b->clip[ch] = clip ? 1 : 0;
      put_text(b->channel_name[ch], channel_name(ch));
      b->link_mode[ch] = rec.link_mode <= kMidSideUpper ? rec.link_mode : 0;
      b->mute_state[ch] = (rec.mute_bits & kMutedByMute) ? 1 : (rec.mute_bits & kMutedByDollarMute) ? 2 : 0;
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
  for (std::uint32_t i = n; i < kProtectCapacity; ++i) std::memset(&b->protect[i], 0, sizeof b->protect[i]);
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
      append_text(line, sizeof line, "%s%s: %s, %u strip(s) from it without a knob", line[0] ? "; " : "", port,
                  present ? "box connected" : "NOTHING CONNECTED", static_cast<unsigned>(without));
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
  for (int i = n; i < static_cast<int>(kGroupRanges); ++i) std::memset(&b->ranges[i], 0, sizeof b->ranges[i]);
  shm_store(b->range_count, static_cast<std::uint32_t>(n));
}

void write_mac(StatusBlock* b) {
  char mac[24] = {};
  if (const std::uint8_t* m = host_get_mac())
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  put_text(b->mac, mac);
}

void apply_watch_request(StatusBlock* b) {
  std::uint32_t seq = shm_load(b->watch_request.request_seq);
  if (seq == g_applied_request_seq) return;
  char bank[kBankBytes + 1] = {};
  copy_field_text(bank, b->watch_request.bank, sizeof b->watch_request.bank);
  bool bank_terminated = std::memchr(b->watch_request.bank, '\0', sizeof b->watch_request.bank) != nullptr;
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
  if (new_watch < old_watch && channel_model_watch_shrunk(old_watch, new_watch)) notify_channel_types();
  config_save();
  want(watcher_flags().patch_wanted);
}

}  // namespace

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
  {
    StatusTextInputs in = text_inputs(b);
    DeskIdentity id = desk_identity();
    in.desk_display = id.name[0] ? id.name : id.id;
    char text[kStatusTextBytes] = {};
    choose_status_text(in, text, sizeof text);
    std::lock_guard<std::mutex> hold(g_text_lock);
    write_status_text(b, text);
    g_last_set_text[0] = '\0';
  }
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

void status_block_close(bool unmap) {
  std::lock_guard<std::mutex> hold(g_publish_lock);
  StatusBlock* b = g_block.load();
  if (!b) return;
  shm_store(b->desk_answering, 0);
  shm_store(b->lv1_loaded, 0);
  shm_store(b->meters_live, 0);
  put_text(b->status_text, "Module stopped");
  if (!unmap) return;
  g_block.store(nullptr, std::memory_order_release);
  set_status_view(nullptr);
  if (b != g_memory) g_mapping.close();
}

void notify_channel_types() {
  if (stop_requested() || !settings().notify.load()) return;
  IoBoxListener* listener = host_lv1_listener();
  const std::uint8_t* mac = listener ? host_get_mac() : nullptr;
  if (!listener || !mac) {
    log_info("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  std::uint8_t copy[6];
  std::memcpy(copy, mac, sizeof copy);
  std::uint32_t before = capability_queries().count;
  // The listener is LV1's object: a fault in it (or a stale pointer) must not take LV1's
  // process down with this thread.
  // Even reading its slot happens inside the guard.
  std::uint32_t code = 0;
  bool has_slot = false;
  auto call = [listener, &copy, &has_slot] {
    auto fn = listener->channel_type_state_changed;
    if (!fn) return;
    has_slot = true;
    fn(listener, copy);
  };
  if (!guarded(call, &code)) {
    log_info("[notify] asking LV1 to re-read the channels faulted (exception 0x%08lx) - ignored",
             static_cast<unsigned long>(code));
    return;
  }
  if (!has_slot) {
    log_info("[notify] no common callback / MAC yet - cannot ask LV1 to re-read the channels");
    return;
  }
  std::uint32_t after = capability_queries().count;
  log_info("[notify] channel_type_state_changed(mac) sent to LV1 (caps re-read so far: %ld)",
           static_cast<long>(after - before));
}

void status_block_reset() {
  std::lock_guard<std::mutex> hold(g_publish_lock);
  g_block.store(nullptr);
  set_status_view(nullptr);
  g_memory = nullptr;
  g_mapping.close();
  g_name.clear();
  g_applied_request_seq = 0;
  g_ports_line[0] = '\0';
  // One lock at a time: the status-text path takes the address lock while it holds the text
  // lock, so holding both here in the other order could deadlock against it.
  {
    std::lock_guard<std::mutex> hold_address(g_address_lock);
    g_address = AddressCheck{};
  }
  std::lock_guard<std::mutex> hold_text(g_text_lock);
  g_last_set_text[0] = '\0';
}

}  // namespace ks
