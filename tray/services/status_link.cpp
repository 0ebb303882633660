#include "tray/services/status_link.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "os/shared_memory.h"
#include "tray/services/ansi_text.h"
#include "tray/services/lv1_build.h"

namespace ks::tray {

namespace {

// A text of the caller's into a fixed field: at most field-1 bytes, stopping at a NUL, the rest of
// the field cleared.
template <size_t N>
void put_text(char (&field)[N], std::string_view text) {
  size_t n = 0;
  while (n < text.size() && n + 1 < N && text[n] != '\0') {
    field[n] = text[n];
    ++n;
  }
  for (size_t i = n; i < N; ++i) field[i] = '\0';
}

// A text field of the other side's, bounded by the field, as a string.
template <size_t N>
std::string field_string(const char (&field)[N]) {
  char buf[N];  // as the field holds it: at most N-1 characters and the NUL
  size_t n = copy_field_text(buf, sizeof buf, field, N);
  return std::string(buf, n);
}

template <size_t N>
void copy_text(char (&out)[N], const char (&field)[N]) {
  copy_field_text(out, N, field, N);
}

bool same_bank(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

uint32_t word(const uint32_t& w) { return shm_load(w); }

}  // namespace

StatusBlock* status_block_of(BlockView v) {
  if (!v.base || v.size < sizeof(StatusBlock)) return nullptr;
  auto* b = reinterpret_cast<StatusBlock*>(v.base);
  return word(b->magic) == kStatusMagic ? b : nullptr;
}

// ---- one-shot copies ----------------------------------------------------------------------------

StatusSnapshot snapshot_of(BlockView v) {
  StatusSnapshot s;
  const StatusBlock* b = status_block_of(v);
  if (!b) return s;
  s.present = 1;
  s.desk_answering = word(b->desk_answering);
  s.lv1_loaded = word(b->lv1_loaded);
  s.version = word(b->version);
  copy_text(s.status_text, b->status_text);
  copy_text(s.desk_line, b->desk_line);
  std::memcpy(s.has_head_amp, b->has_head_amp, sizeof s.has_head_amp);
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    copy_text(s.src_bank[ch], b->src_bank[ch]);
    s.src_input[ch] = word(b->src_input[ch]);
  }
  if (s.version >= kSnapshotDiscoveryVersion) {
    s.discovery_decision = word(b->discovery_decision);
    s.answer_count = std::min(word(b->answer_count), kAnswerSummaries);
    for (uint32_t i = 0; i < kAnswerSummaries; ++i) {
      const DeskAnswerSummary& from = b->answers[i];
      DeskAnswerSummary& to = s.answers[i];
      copy_text(to.ip, from.ip);
      copy_text(to.name, from.name);
      copy_text(to.model, from.model);
      copy_text(to.id, from.id);
      to.card = from.card;
    }
    copy_text(s.chosen_console, b->chosen_console);
  }
  if (s.version >= kSnapshotSourceDevicesVersion) {
    s.source_device_count = std::min(word(b->source_device_count), kSourceDevices);
    for (uint32_t i = 0; i < kSourceDevices; ++i) {
      copy_text(s.source_devices[i].port, b->source_devices[i].port);  // 7 characters and the NUL
      s.source_devices[i].device = b->source_devices[i].device;
      s.source_devices[i].strips_without_head_amp =
          word(b->source_devices[i].strips_without_head_amp);
    }
  }
  if (s.version >= kSnapshotAddressVersion) {
    s.address_state = word(b->address_state);
    s.address_moves = word(b->address_moves);
    copy_text(s.address_ip, b->address_ip);
    copy_text(s.address_id, b->address_id);
    copy_text(s.address_name, b->address_name);
  }
  return s;
}

bool desk_line_of(BlockView v, char* out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = '\0';
  const StatusBlock* b = status_block_of(v);
  if (!b) return false;
  return copy_field_text(out, std::min(size, sizeof b->desk_line), b->desk_line,
                         sizeof b->desk_line) > 0;
}

bool loader_block_of(BlockView v, uint8_t (&out)[kLoaderBlockSize]) {
  if (!v.base) return false;
  std::memset(out, 0, sizeof out);
  if (v.size < 8) return false;
  const uint32_t* head = reinterpret_cast<const uint32_t*>(v.base);
  if (shm_load(head[0]) != kLoaderMagic) return false;
  const uint32_t size = shm_load(head[1]);
  if (size < kLoaderBlockMinSize) return false;
  const size_t n = std::min<size_t>(size, kLoaderBlockSize);
  if (v.size < n) return false;
  std::memcpy(out, v.base, n);
  // Every text ends inside its field, whatever the other side wrote.
  auto* copy = reinterpret_cast<LoaderBlock*>(out);
  copy->loader_version[sizeof copy->loader_version - 1] = '\0';
  for (LoaderTypeRecord& t : copy->types) {
    t.type_name[sizeof t.type_name - 1] = '\0';
    t.running_version[sizeof t.running_version - 1] = '\0';
    t.failed_file[sizeof t.failed_file - 1] = '\0';
  }
  return true;
}

// ---- requests and the command ring --------------------------------------------------------------

uint32_t command_min_version(uint32_t op, int32_t channel) {
  const auto code = static_cast<ControlOpCode>(op);
  if (code == ControlOpCode::RereadInput || code == ControlOpCode::Verify) return 14;
  if (code == ControlOpCode::SetProtect && channel < 0) return 14;
  return 13;
}

uint32_t ring_post(BlockView v, const CommandRequest& r, PostRefusal* why) {
  PostRefusal no = PostRefusal::none;
  PostRefusal& reason = why ? *why : no;
  StatusBlock* b = status_block_of(v);
  if (!b) {
    reason = PostRefusal::not_running;
    return 0;
  }
  if (word(b->version) < command_min_version(r.op, r.channel)) {
    reason = PostRefusal::too_old;
    return 0;
  }
  uint32_t seq = word(b->last_posted_seq) + 1;
  if (seq == 0) seq = 1;  // 0 marks a free slot; the module would never see it
  ControlOp& rec = b->ring.op[command_slot(seq)];
  if (control_op_pending(rec)) {
    reason = PostRefusal::ring_full;
    return 0;
  }
  // The slot is marked free before its fields change: with the old seq and a cleared done_seq it
  // would look pending to the module, which could serve the half-written request under the old
  // sequence and then again under the new one.
  shm_store(rec.seq, 0);
  rec.op = r.op;
  rec.channel = r.channel;
  rec.arg = r.arg;
  rec.value = r.value;
  rec.arg2 = r.arg2;
  put_text(rec.group, r.group);
  shm_store(rec.result, 0);
  rec.reply[0] = '\0';
  shm_store(rec.done_seq, 0);
  shm_store(rec.seq, seq);
  shm_store(b->last_posted_seq, seq);
  reason = PostRefusal::none;
  return seq;
}

bool ring_result(BlockView v, uint32_t seq, uint32_t* result, std::string* reply) {
  if (seq == 0) return false;
  StatusBlock* b = status_block_of(v);
  if (!b || word(b->version) < 13) return false;
  ControlOp& rec = b->ring.op[command_slot(seq)];
  if (shm_load(rec.seq) != seq || shm_load(rec.done_seq) != seq) return false;
  if (result) *result = shm_load(rec.result);
  if (reply) *reply = field_string(rec.reply);  // at most 95 bytes, never into the next slot
  return true;
}

void write_watch_request(BlockView v, std::string_view group, uint32_t base, uint32_t count) {
  StatusBlock* b = status_block_of(v);
  if (!b) return;
  WatchRequest& w = b->watch_request;
  if (!group.empty()) put_text(w.bank, group);
  w.base = base;
  w.count = count;
  shm_store(w.pending, 1);
  shm_store(w.request_seq, word(w.request_seq) + 1);
}

void write_resync_request(BlockView v, bool resync_lv1) {
  StatusBlock* b = status_block_of(v);
  if (!b) return;
  WatchRequest& w = b->watch_request;
  shm_store(b->watch_resync, resync_lv1 ? 1 : 0);
  w.base = word(b->watch_base);
  w.count = word(b->watch_count);
  put_text(w.bank, field_string(b->watch_bank));
  shm_store(w.request_seq, word(w.request_seq) + 1);
}

std::string group_cache_key_of(BlockView v, std::string_view group) {
  std::string key;
  if (const StatusBlock* b = status_block_of(v)) key = field_string(b->desk_ip);
  key += '/';
  for (char c : group) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

size_t reroute_groups_of(BlockView v, char (*out)[kBankBytes], uint32_t* counts, size_t max) {
  const StatusBlock* b = status_block_of(v);
  if (!b || !out) return 0;
  size_t n = 0;
  auto add = [&](std::string_view bank) {
    if (n >= max || bank.empty() || same_bank(bank, "OFF")) return;
    for (size_t i = 0; i < n; ++i)
      if (same_bank(out[i], bank)) return;
    put_text(out[n++], bank);
  };
  const std::string line = field_string(b->desk_line);
  if (line.compare(0, 4, "WING") == 0) {
    const bool no_aux = line.find(",wing-rack,") != std::string::npos ||
                        line.find(",wing-compact,") != std::string::npos;
    for (const char* bank : {"LCL", "AUX", "A", "B", "C", "SC", "USB", "AES"})
      if (!(no_aux && std::strcmp(bank, "AUX") == 0)) add(bank);
  }
  const uint32_t ranges = std::min(word(b->range_count), kGroupRanges);
  for (uint32_t i = 0; i < ranges; ++i) add(field_string(b->ranges[i].bank));
  const uint32_t watched = std::min(word(b->watch_count), kChannels);
  for (uint32_t ch = 0; ch < watched; ++ch) add(field_string(b->src_bank[ch]));
  if (counts) {
    for (size_t i = 0; i < n; ++i) {
      counts[i] = 0;
      for (uint32_t ch = 0; ch < watched; ++ch)
        if (same_bank(out[i], field_string(b->src_bank[ch]))) ++counts[i];
    }
  }
  return n;
}

// ---- the lasting views --------------------------------------------------------------------------

const char* status_suffix(int index) { return index == 1 ? kStatusSuffixX32 : kStatusSuffixWing; }

StatusLink::StatusLink(StatusLinkEnv env) : env_(std::move(env)) {
  if (!env_.lv1_running) env_.lv1_running = [] { return lv1_running(system_lv1()); };
}

StatusLink::~StatusLink() { detach_all(); }

uint64_t StatusLink::now64() { return env_.clock ? env_.clock->now64() : tick_now64(); }

std::string StatusLink::status_name(std::string_view suffix) const {
  return env_.status_base + std::string(suffix);
}

bool StatusLink::attached(int index) const {
  return index >= 0 && index < 2 && slot_[index] && slot_[index]->valid();
}

BlockView StatusLink::view(int index) const {
  if (!attached(index)) return {};
  return {static_cast<uint8_t*>(slot_[index]->data()), slot_[index]->size()};
}

bool StatusLink::attach(int index) {
  if (index < 0 || index > 1) return false;
  if (attached(index)) return true;
  auto m = std::make_unique<SharedMemory>();
  // A block shorter than the record is refused here: nothing past its end is ever read.
  if (!m->open(status_name(status_suffix(index)), sizeof(StatusBlock),
               SharedMemory::Access::read_write))
    return false;
  if (!status_block_of({static_cast<uint8_t*>(m->data()), m->size()})) return false;
  slot_[index] = std::move(m);
  return true;
}

void StatusLink::detach_all() {
  for (auto& s : slot_) s.reset();
}

bool StatusLink::alive(BlockView v) {
  const StatusBlock* b = status_block_of(v);
  return b && (word(b->desk_answering) != 0 || word(b->lv1_loaded) != 0);
}

bool StatusLink::select() {
  const bool a0 = attached(0), a1 = attached(1);
  if (!a0 && !a1) {
    attach(0);
    attach(1);
    last_attempt_ = now64();
    attempted_ = true;
  } else if (!a0 || !a1) {
    const uint64_t now = now64();
    if (!attempted_ || now - last_attempt_ >= 1000) {
      attach(a0 ? 1 : 0);
      last_attempt_ = now;
      attempted_ = true;
    }
  }
  const int a = active_, b = 1 - active_;
  if (attached(b) && (!attached(a) || (!alive(view(a)) && alive(view(b))))) active_ = b;
  const BlockView v = view(active_);
  if (!v) return false;
  too_old_ = word(reinterpret_cast<const StatusBlock*>(v.base)->version) < kModuleCurrentVersion;
  return true;
}

bool StatusLink::show_console(int index) {
  if (index < 0 || index > 1 || !view(index)) return false;
  active_ = index;
  return true;
}

namespace {

int severity(TrayState s) {
  switch (s) {
    case TrayState::attention: return 3;
    case TrayState::unreachable: return 2;
    case TrayState::idle: return 1;
    case TrayState::linked: return 0;
  }
  return 0;
}

}  // namespace

TrayState StatusLink::tray_state() {
  if (!env_.lv1_running()) {
    if (lv1_misses_ < 3) ++lv1_misses_;
    if (lv1_misses_ < 3) return last_state_;
    detach_all();
    return last_state_ = TrayState::idle;
  }
  lv1_misses_ = 0;
  if (env_.blocked && env_.blocked()) return last_state_ = TrayState::attention;
  if (!select()) return last_state_ = TrayState::idle;
  if (too_old_ || (env_.log_problems && env_.log_problems() > 0))
    return last_state_ = TrayState::attention;
  const bool any_alive = alive(view(0)) || alive(view(1));
  bool have = false;
  TrayState best = TrayState::idle;
  for (int i = 0; i < 2; ++i) {
    const StatusBlock* b = status_block_of(view(i));
    if (!b) continue;
    const bool flags = word(b->desk_answering) != 0 || word(b->lv1_loaded) != 0;
    if (!flags && field_string(b->status_text) == "Module stopped") continue;
    if (any_alive && !flags) continue;
    TrayState s;
    if (word(b->degraded) != 0)
      s = TrayState::attention;
    else if (word(b->desk_answering) != 0)
      s = word(b->lv1_loaded) != 0 ? TrayState::linked : TrayState::idle;
    else
      s = TrayState::unreachable;
    if (!have || severity(s) > severity(best)) best = s;  // a tie keeps the WING slot's
    have = true;
  }
  return last_state_ = have ? best : TrayState::idle;
}

StatusSnapshot StatusLink::read_status_snapshot(std::string_view suffix) const {
  SharedMemory m;
  if (!m.open(status_name(suffix), sizeof(StatusBlock), SharedMemory::Access::read_only)) return {};
  return snapshot_of({static_cast<uint8_t*>(m.data()), m.size()});
}

bool StatusLink::read_desk_line(std::string_view suffix, char* out, size_t size) const {
  SharedMemory m;
  if (!m.open(status_name(suffix), sizeof(StatusBlock), SharedMemory::Access::read_only))
    return false;
  return desk_line_of({static_cast<uint8_t*>(m.data()), m.size()}, out, size);
}

bool StatusLink::read_loader_block(uint8_t (&out)[kLoaderBlockSize]) const {
  SharedMemory m;
  // The loader's block is 304 bytes; an older, shorter one still carries the 272-byte records.
  if (!m.open(env_.loader_name, kLoaderBlockSize, SharedMemory::Access::read_only) &&
      !m.open(env_.loader_name, kLoaderBlockMinSize, SharedMemory::Access::read_only))
    return false;
  return loader_block_of({static_cast<uint8_t*>(m.data()), m.size()}, out);
}

uint32_t StatusLink::post_command(uint32_t op, int32_t channel, uint32_t arg, double value,
                                  std::string_view group, uint32_t arg2) {
  if (!select()) return 0;
  CommandRequest r;
  r.op = op;
  r.channel = channel;
  r.arg = arg;
  r.value = value;
  r.group = group;
  r.arg2 = arg2;
  return ring_post(active_view(), r);
}

bool StatusLink::command_result(uint32_t seq, uint32_t* result, std::string* reply) {
  if (seq == 0 || !select()) return false;
  std::string raw;
  if (!ring_result(active_view(), seq, result, &raw)) return false;
  if (reply) *reply = ansi_to_utf8(raw);
  return true;
}

std::string StatusLink::command_refusal_text(uint32_t op, int32_t channel) {
  if (!select()) return kRefusedNotRunning;
  const StatusBlock* b = status_block_of(active_view());
  if (!b) return kRefusedNotRunning;
  if (word(b->version) < command_min_version(op, channel)) return kRefusedTooOld;
  return kRefusedRingFull;
}

void StatusLink::post_pending_command(uint32_t op, int32_t channel, uint32_t arg, double value) {
  action_seq_ = post_command(op, channel, arg, value);
  action_reply_ = action_seq_ ? kWorkingText : command_refusal_text(op, channel);
}

void StatusLink::post_watch_request(std::string_view group, uint32_t base, uint32_t count) {
  write_watch_request(active_view(), group, base, count);
}

void StatusLink::status_post_request(std::string_view suffix, bool resync_lv1) const {
  SharedMemory m;
  if (!m.open(status_name(suffix), sizeof(StatusBlock), SharedMemory::Access::read_write)) return;
  write_resync_request({static_cast<uint8_t*>(m.data()), m.size()}, resync_lv1);
}

std::string StatusLink::group_cache_key(std::string_view group) const {
  return group_cache_key_of(active_view(), group);
}

size_t StatusLink::list_reroute_groups(char (*out)[kBankBytes], uint32_t* counts,
                                       size_t max) const {
  return reroute_groups_of(active_view(), out, counts, max);
}

}  // namespace ks::tray
