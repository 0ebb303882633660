#include "desk/wing/wing_slots.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>

#include "bridge/text.h"
#include "desk/wing/wing_codec.h"
#include "desk/wing/wing_desk_rules.h"
#include "desk/wing/wing_link.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"
#include "bridge/driver_services.h"
#include "os/lock.h"

namespace ks {

namespace {

constexpr uint32_t kLeafTimeoutMs = 400;
constexpr uint32_t kNodeTimeoutMs = 500;
constexpr uint32_t kDefinitionTimeoutMs = 600;

// The builds shipped with the driver. No hash values of any build are at hand, so none ships:
// the driver learns every hash from the replies it reads.
const PreloadBuild* g_builds = nullptr;
uint32_t g_build_count = 0;
std::atomic<bool> g_preload_done{false};

CriticalSection& identity_lock() {
  static CriticalSection lock;
  return lock;
}
char g_identity[160];

std::atomic<EventFn> g_event{nullptr};

struct Reply {
  uint8_t bytes[kReplyCapacity];
  uint32_t len = 0;
  uint8_t token() const { return len >= 6 ? bytes[5] : 0; }
  uint32_t hash() const { return len >= 5 ? read_be32(bytes + 1) : 0; }
  const uint8_t* value() const { return bytes + 5; }
  size_t value_len() const { return len > 5 ? len - 5 : 0; }
  bool is_string() const {
    uint8_t t = token();
    return len >= 6 && (t == 0xD0 || t == 0xD1 || (t >= 0x80 && t <= 0xBF));
  }
};

// A leaf read: sends the frame, guarded by the hash learned for (bank, index, leaf).
bool ask(const NodeFrame& f, const char* bank, uint32_t index, const char* leaf, Reply* r,
         uint32_t timeout_ms = kLeafTimeoutMs) {
  uint32_t expected = node_table().lookup(bank, index, leaf);
  return link_request(f, false, expected, r->bytes, sizeof r->bytes, &r->len, timeout_ms, false) &&
         r->len >= 5;
}

void input_leaf_frame(NodeFrame& f, const char* bank, int32_t n, const char* leaf, uint8_t end) {
  frame_reset(f);
  frame_put_path(f, bank, n, leaf);
  frame_put_byte(f, end);
}

bool valid_input(const char* bank, int32_t n) { return bank && *bank && n >= 1; }

// Text read of any node, learned under (bank, index, leaf) only when the answer is a string.
bool read_text_node(const NodeFrame& f, const char* bank, uint32_t index, const char* leaf,
                    char* out, size_t cap) {
  Reply r;
  if (!ask(f, bank, index, leaf, &r)) return false;
  if (!r.is_string()) return false;
  node_hash_learn(r.hash(), bank, index, leaf);
  return decode_text(r.value(), r.value_len(), out, cap);
}

// Flag read of any node: 0x00 / 0x01, learned only then. A reply without a value, or with an
// empty text, counts as off.
bool read_flag_node(const NodeFrame& f, const char* bank, uint32_t index, const char* leaf,
                    uint8_t* on) {
  Reply r;
  if (!ask(f, bank, index, leaf, &r)) return false;
  if (r.len == 5 || (r.token() == 0xD0 && r.len == 6)) {
    node_hash_learn(r.hash(), bank, index, leaf);
    if (on) *on = 0;
    return true;
  }
  if (r.token() > 0x01) return false;
  node_hash_learn(r.hash(), bank, index, leaf);
  if (on) *on = r.token();
  return true;
}

void path_names(NodeFrame& f, std::initializer_list<const char*> names) {
  frame_reset(f);
  frame_begin_path(f);
  for (const char* n : names) frame_put_string(f, n);
}

void forward_event(const char* bank, int32_t index, const char* leaf, double value, uint8_t flag) {
  EventFn fn = g_event.load(std::memory_order_acquire);
  if (fn) fn(bank, index, leaf, value, flag, nullptr);
}

bool keep_alive() {
  double v;
  return wing_read_leaf("LCL", 1, "g", &v, nullptr);
}

void preload_once() {
  if (g_preload_done.exchange(true)) return;
  char fw[64];
  {
    LockGuard<CriticalSection> g(identity_lock());
    if (!identity_firmware(g_identity, fw, sizeof fw)) fw[0] = 0;
  }
  for (uint32_t i = 0; i < g_build_count; ++i) {
    const PreloadBuild& b = g_builds[i];
    if (!b.firmware || std::strcmp(b.firmware, fw) != 0 || b.count == 0) continue;
    for (uint32_t k = 0; k < b.count; ++k)
      node_hash_learn(b.rows[k].hash, b.rows[k].bank, b.rows[k].index, b.rows[k].leaf);
    driver_log_info("[bin] firmware %s: %d node hashes preloaded - no read runs on trust", fw,
                    int(b.count));
    return;
  }
  driver_log_info("[bin] firmware %s: no hash table for this build - learning hashes as it reads",
                  fw);
}

}  // namespace

void wing_set_preload_builds(const PreloadBuild* builds, uint32_t count) {
  g_builds = builds;
  g_build_count = builds ? count : 0;
  g_preload_done = false;
}

bool KS_ABI wing_connect(const char* ip) {
  bool started = link_start(ip, keep_alive);
  if (started) preload_once();
  return started;
}

void KS_ABI wing_disconnect() { link_stop(); }

void KS_ABI wing_adopt(const DeskAnswer* answer) {
  if (!answer) return;
  char line[sizeof g_identity];
  copy_text(line, sizeof line, answer->identity);
  char was[64] = "", now[64] = "";
  bool changed = false;
  {
    LockGuard<CriticalSection> g(identity_lock());
    if (g_identity[0]) {
      identity_field_from_end(g_identity, 0, was, sizeof was);
      identity_field_from_end(line, 0, now, sizeof now);
      changed = std::strcmp(was, now) != 0;
    }
    std::memcpy(g_identity, line, sizeof g_identity);
  }
  if (changed)
    driver_log_info(
        "[desk] WING firmware is now %s (was %s) - node hashes learned for the old build stay in use",
        now, was);
}

const char* KS_ABI wing_identity() { return g_identity[0] ? g_identity : nullptr; }

bool KS_ABI wing_link_alive() { return link_alive(); }

bool wing_read_leaf(const char* bank, int32_t n, const char* leaf, double* value, uint8_t* flag) {
  if (!valid_input(bank, n) || !leaf) return false;
  NodeFrame f;
  input_leaf_frame(f, bank, n, leaf, kDataRequest);
  Reply r;
  if (!ask(f, bank, uint32_t(n), leaf, &r)) return false;
  if (!leaf_accepts_token(leaf, r.token())) {
    driver_log_detail("[read] %s %d/%s answered value type 0x%02X - not this leaf, ignoring", bank,
                      int(n), leaf, r.token());
    return false;
  }
  double v = 0;
  uint8_t fl = 0;
  if (!decode_value(r.value(), r.value_len(), &v, &fl)) return false;
  node_hash_learn(r.hash(), bank, uint32_t(n), leaf);
  if (value) *value = v;
  if (flag) *flag = fl;
  return true;
}

bool wing_read_text(const char* bank, int32_t n, const char* leaf, char* out, size_t cap) {
  if (!valid_input(bank, n) || !leaf) return false;
  NodeFrame f;
  input_leaf_frame(f, bank, n, leaf, kDataRequest);
  return read_text_node(f, bank, uint32_t(n), leaf, out, cap);
}

bool KS_ABI wing_read_preamp(const char* bank, int32_t n, double* db, uint8_t* phantom,
                             uint8_t* gain_valid) {
  if (gain_valid) *gain_valid = 0;
  if (!valid_input(bank, n)) return false;
  NodeFrame f;
  input_leaf_frame(f, bank, n, nullptr, kDataRequest);
  uint8_t buf[kReplyCapacity];
  uint32_t len = 0;
  if (!link_request(f, false, 0, buf, sizeof buf, &len, kNodeTimeoutMs, true)) return false;
  uint32_t gh = node_table().lookup(bank, uint32_t(n), "g");
  uint32_t vh = node_table().lookup(bank, uint32_t(n), "vph");
  bool own = false, gain_ok = false, vph_ok = false;
  double gain = 0;
  uint8_t on = 0;
  int k = 0;
  for (size_t i = 0; i + 5 < len;) {
    size_t item = 0;
    if (buf[i] != kNodeItem || token_length(buf + i, len - i, &item) != TokenScan::kComplete) break;
    uint32_t h = read_be32(buf + i + 1);
    const uint8_t* v = buf + i + 5;
    size_t vlen = item - 5;
    const NodeHashEntry* e = node_table().find(h);
    if (e && (e->index != uint32_t(n) || !iequals(e->bank, bank))) {
      link_deliver_push(h, v, vlen);  // another node's value that came along
    } else {
      own = true;
      bool is_gain = gh ? h == gh : k == 1;
      bool is_vph = vh ? h == vh : k == 2;
      if (is_gain && v[0] == kFloat && decode_value(v, vlen, &gain, nullptr)) {
        gain_ok = true;
        node_hash_learn(h, bank, uint32_t(n), "g");
      }
      if (is_vph && v[0] <= 0x01) {
        vph_ok = true;
        on = v[0];
        node_hash_learn(h, bank, uint32_t(n), "vph");
      }
      ++k;
    }
    i += item;
  }
  if (!own) return false;
  // Without its 48 V item the answer says nothing about 48 V: ask for it alone rather than
  // report "off".
  if (!vph_ok) {
    double v;
    if (!wing_read_leaf(bank, n, "vph", &v, &on)) return false;
  }
  if (gain_ok && db) *db = gain;
  if (phantom) *phantom = on;
  if (gain_valid) *gain_valid = gain_ok ? 1 : 0;
  return true;
}

bool KS_ABI wing_read_gain(const char* bank, int32_t n, double* db) {
  return wing_read_leaf(bank, n, "g", db, nullptr);
}

bool KS_ABI wing_read_phantom(const char* bank, int32_t n, uint8_t* on) {
  double v;
  return wing_read_leaf(bank, n, "vph", &v, on);
}

bool KS_ABI wing_read_mute(const char* bank, int32_t n, uint32_t* state) {
  double v = 0, sv = 0;
  uint8_t muted = 0;
  bool a = wing_read_leaf(bank, n, "mute", &v, &muted);
  bool b = wing_read_leaf(bank, n, "$mute", &sv, nullptr);
  if (state) *state = (a && muted) ? 1 : (b && sv != 0) ? 2 : 0;
  return a || b;
}

bool KS_ABI wing_read_mode(const char* bank, int32_t n, uint32_t* mode) {
  char text[16];
  if (!wing_read_text(bank, n, "mode", text, sizeof text)) return false;
  if (!wing_mode_from_text(text, n, mode)) {
    driver_log_info("[mode] %s %d answered '%s' - not a mode token, ignoring (stale reply?)", bank,
                    int(n), text);
    return false;
  }
  return true;
}

uint32_t KS_ABI wing_stereo_lead(const char* bank, int32_t n) {
  if (n < 2 || n % 2 != 0) return uint32_t(n);
  uint32_t mode = 0;
  bool stereo = wing_read_mode(bank, n, &mode) && mode == 2;
  return wing_stereo_lead(n, stereo);
}

bool KS_ABI wing_send_gain(const char* bank, int32_t n, double db) {
  if (!valid_input(bank, n) || !std::isfinite(db)) return false;
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, "g");
  frame_put_float(f, float(db));
  // Called on LV1's threads: false when it cannot go out at once, and the framework defers it.
  return link_try_send_frame(f);
}

bool KS_ABI wing_send_phantom(const char* bank, int32_t n, uint8_t on) {
  if (!valid_input(bank, n)) return false;
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, "vph");
  frame_put_small(f, on ? 1 : 0);
  return link_try_send_frame(f);
}

bool KS_ABI wing_send_mode(const char* bank, int32_t n, const char* mode) {
  if (!valid_input(bank, n) || !mode || !*mode) return false;
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, "mode");
  frame_put_text(f, mode);
  return link_send_frame(f);
}

void KS_ABI wing_set_event_callback(EventFn fn) {
  g_event.store(fn, std::memory_order_release);
  // After this returns no push into the old callback is running (the link's push lock).
  link_set_push_callback(fn ? forward_event : nullptr);
}

bool KS_ABI wing_gain_range(const char* bank, int32_t n, double* min, double* max, double* step) {
  if (!valid_input(bank, n)) return false;
  NodeFrame f;
  input_leaf_frame(f, bank, n, "g", kDefinitionRequest);
  uint8_t buf[kReplyCapacity];
  uint32_t len = 0;
  if (!link_request(f, true, 0, buf, sizeof buf, &len, kDefinitionTimeoutMs, false)) return false;
  return parse_gain_range_block(buf, len, min, max, step);
}

bool KS_ABI wing_is_preamp_bank(const char* bank) {
  if (!bank) return false;
  for (const char* b : {"LCL", "A", "B", "C", "SC"})
    if (iequals(bank, b)) return true;
  return false;
}

uint32_t KS_ABI wing_bank_size(const char* bank) {
  char model[32];
  {
    LockGuard<CriticalSection> g(identity_lock());
    if (!identity_field_from_end(g_identity, 2, model, sizeof model)) model[0] = 0;
  }
  return wing_bank_size_for(model, bank);
}

bool KS_ABI wing_read_source(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                             uint32_t* n_out) {
  if (!slot || !*slot || n < 1 || !bank_out || bank_len == 0) return false;
  NodeFrame f;
  path_names(f, {"io", "out", slot});
  frame_put_index(f, int32_t(n));
  frame_put_string(f, "grp");
  frame_put_byte(f, kDataRequest);
  char grp[64];
  if (!read_text_node(f, slot, n, "grp", grp, sizeof grp)) return false;
  if (!is_group_token(grp)) {
    driver_log_detail("[patch] out %s/%d grp answered '%s' - not a group token, ignoring", slot,
                      int(n), grp);
    return false;
  }
  path_names(f, {"io", "out", slot});
  frame_put_index(f, int32_t(n));
  frame_put_string(f, "in");
  frame_put_byte(f, kDataRequest);
  Reply r;
  if (!ask(f, slot, n, "in", &r)) return false;
  uint8_t t = r.token();
  if (!(t <= 0x3F || t == 0xD3 || t == 0xD4)) {
    driver_log_detail("[patch] out %s/%d in answered type 0x%02X - not an index, ignoring", slot,
                      int(n), t);
    return false;
  }
  double v = 0;
  if (!decode_value(r.value(), r.value_len(), &v, nullptr)) return false;
  if (v < 1 || v > 64) {
    driver_log_detail("[patch] out %s/%d in answered %.0f - out of range, ignoring", slot, int(n),
                      v);
    return false;
  }
  node_hash_learn(r.hash(), slot, n, "in");
  copy_text(bank_out, bank_len, grp);
  if (n_out) *n_out = uint32_t(v);
  return true;
}

bool KS_ABI wing_set_patch(const char* slot, uint32_t n, const char* bank, uint32_t input) {
  if (!slot || !*slot || n < 1 || n > 64 || !bank || !*bank || input < 1 || input > 64)
    return false;
  NodeFrame f;
  path_names(f, {"io", "out", slot});
  frame_put_index(f, int32_t(n));
  frame_put_string(f, "grp");
  frame_put_text(f, bank);
  bool a = link_send_frame(f);
  path_names(f, {"io", "out", slot});
  frame_put_index(f, int32_t(n));
  frame_put_string(f, "in");
  // An integer node: written with the integer token it reads back as.
  frame_put_int(f, int32_t(input));
  bool b = link_send_frame(f);
  return a && b;
}

bool KS_ABI wing_read_route(const char* slot, uint32_t n, const char* leaf, uint32_t* value,
                            char* text, int32_t text_len) {
  if (!slot || !*slot || n < 1 || !leaf) return false;
  if (text && text_len > 0) text[0] = 0;
  NodeFrame f;
  path_names(f, {"io", "out", slot});
  frame_put_index(f, int32_t(n));
  frame_put_string(f, leaf);
  frame_put_byte(f, kDataRequest);
  Reply r;
  if (!ask(f, slot, n, leaf, &r)) return false;
  double v = 0;
  bool num = !r.is_string() && decode_value(r.value(), r.value_len(), &v, nullptr);
  if (num && value) *value = v < 0 ? 0 : uint32_t(v);
  bool str = r.is_string() && text && text_len > 0 &&
             decode_text(r.value(), r.value_len(), text, size_t(text_len));
  return num || str;
}

bool KS_ABI wing_read_card_type(const char* slot, char* out, int32_t len) {
  if (!slot || !out || len <= 0) return false;
  NodeFrame f;
  if (iequals(slot, "MOD")) {
    path_names(f, {"$syscfg", "opt_mod"});
  } else if (iequals(slot, "CRD")) {
    path_names(f, {"cards", "$type"});
  } else {
    return false;
  }
  frame_put_byte(f, kDataRequest);
  return read_text_node(f, slot, 0, "type", out, size_t(len));
}

bool KS_ABI wing_read_port_devices(const char* port, char* out, int32_t len) {
  if (!port || !out || len <= 0) return false;
  NodeFrame f;
  if (iequals(port, "SC")) {
    path_names(f, {"$stat", "sc_devices"});
  } else if (iequals(port, "A") || iequals(port, "B") || iequals(port, "C")) {
    char name[2] = {char(std::toupper(static_cast<unsigned char>(port[0]))), 0};
    path_names(f, {"$stat", name, "dev"});
  } else {
    return false;
  }
  frame_put_byte(f, kDataRequest);
  return read_text_node(f, port, 0, "dev", out, size_t(len));
}

bool KS_ABI wing_read_port_remote(const char* port, uint8_t* on) {
  if (!port || !(iequals(port, "A") || iequals(port, "B") || iequals(port, "C"))) return false;
  char name[2] = {char(std::tolower(static_cast<unsigned char>(port[0]))), 0};
  NodeFrame f;
  path_names(f, {"$globals", "harmt", name});
  frame_put_byte(f, kDataRequest);
  return read_flag_node(f, port, 0, "harmt", on);
}

bool KS_ABI wing_read_tcplock(uint8_t* on) {
  NodeFrame f;
  path_names(f, {"$syscfg", "tcplock"});
  frame_put_byte(f, kDataRequest);
  return read_flag_node(f, "$syscfg", 0, "tcplock", on);
}

}  // namespace ks
