#include "desk/x32/x32_driver.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/text.h"
#include "desk/x32/x32_link.h"
#include "bridge/driver_services.h"
#include "desk/x32/x32_tables.h"
#include "os/lock.h"

namespace ks {

namespace {

constexpr uint32_t kRouteValidMs = 1000;
constexpr uint32_t kAesDigitValidMs = 3000;
constexpr uint32_t kAesPresentValidMs = 5000;
constexpr uint32_t kHaLinkRetryMs = 5000;

struct Cached {
  int32_t value = -1;
  Tick tick = 0;
  bool valid = false;
};

struct AesStatus {
  char text[64] = {};
  Tick tick = 0;
  bool have = false;
};

// Everything the receive, poll and framework threads share, under one lock that is never held
// across a query.
struct DriverState {
  CriticalSection lock;
  char identity[160] = {};
  char model[24] = {};
  Cached card[4];
  Cached user_out[48];
  Cached user_in[32];
  AesStatus aes[2];
  bool ha_link_read = false;
  bool ha_link_on = false;
  bool pair_linked[16] = {};
  int32_t ha_index[32];
  bool ha_link_failed = false;
  Tick ha_link_failed_tick = 0;
};

DriverState& state() {
  static DriverState* s = new DriverState;
  return *s;
}

Tick now() { return x32_clock().now(); }

bool fresh(const Cached& c, Tick t, uint32_t valid_ms) {
  return c.valid && ticks_elapsed(t, c.tick) < valid_ms;
}

// A whole number from a reply's first argument ('i', or a finite 'f'); false otherwise.
bool reply_integer(const OscMessage& m, int32_t* out, char* tag) {
  double v;
  if (!osc_first_number(m, &v, tag)) return false;
  if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) return false;
  *out = int32_t(v);
  return true;
}

bool query_integer(const char* address, int32_t* out) {
  OscMessage m;
  char tag = 0;
  return x32_query(address, &m, kX32QueryMs) && reply_integer(m, out, &tag);
}

int aes_port(const char* port) {
  if (!port) return -1;
  if ((port[0] == 'A' || port[0] == 'a') && !port[1]) return 0;
  if ((port[0] == 'B' || port[0] == 'b') && !port[1]) return 1;
  return -1;
}

const char* aes_address(int p) { return p == 0 ? "/-stat/aes50/A" : "/-stat/aes50/B"; }

// The AES50 status string of a port, re-read once it is older than max_age_ms. False when it was
// never read.
bool aes_status(int p, uint32_t max_age_ms, char* out) {
  DriverState& s = state();
  {
    LockGuard g(s.lock);
    if (s.aes[p].have && ticks_elapsed(now(), s.aes[p].tick) < max_age_ms) {
      std::memcpy(out, s.aes[p].text, 64);
      return true;
    }
  }
  OscMessage m;
  if (x32_query(aes_address(p), &m, kX32QueryMs) && m.string_count > 0) {
    LockGuard g(s.lock);
    bool changed = !s.aes[p].have || std::strcmp(s.aes[p].text, m.strings[0]) != 0;
    if (changed)
      driver_log_info("[x32] %s = \"%s\"%s", aes_address(p), m.strings[0],
                      m.strings[0][0] ? "" : " (empty)");
    copy_text(s.aes[p].text, 64, m.strings[0]);
    s.aes[p].tick = now();
    s.aes[p].have = true;
  }
  LockGuard g(s.lock);
  if (!s.aes[p].have) return false;
  std::memcpy(out, s.aes[p].text, 64);
  return true;
}

void grp_events_for_block(int k) {
  for (int i = 1; i <= 8; i++) x32_emit("CRD", 8 * k + i, "grp", 0, 0);
}

// "/headamp/NNN/leaf": the head amp 0..127 and the leaf; false for anything else.
bool parse_headamp_address(const char* address, int* index, const char** leaf) {
  static const char kPrefix[] = "/headamp/";
  if (std::strncmp(address, kPrefix, sizeof kPrefix - 1) != 0) return false;
  const char* digits = address + sizeof kPrefix - 1;
  const char* slash = std::strchr(digits, '/');
  if (!slash || !x32_parse_number(digits, slash, 3, index) || *index >= kX32HeadAmps) return false;
  *leaf = slash + 1;
  return true;
}

// "/config/userrout/out/NN" or ".../in/NN": which list and entry; false for anything else.
bool parse_userrout_address(const char* address, bool* in, int* entry) {
  static const char kOut[] = "/config/userrout/out/";
  static const char kIn[] = "/config/userrout/in/";
  const char* rest;
  if (std::strncmp(address, kOut, sizeof kOut - 1) == 0) {
    rest = address + sizeof kOut - 1;
    *in = false;
  } else if (std::strncmp(address, kIn, sizeof kIn - 1) == 0) {
    rest = address + sizeof kIn - 1;
    *in = true;
  } else {
    return false;
  }
  if (!x32_parse_number(rest, rest + std::strlen(rest), 2, entry)) return false;
  return *entry >= 1 && *entry <= (*in ? 32 : 48);
}

bool starts_with(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

void push_aes(int p, const char* text) {
  DriverState& s = state();
  char old[64];
  bool had;
  {
    LockGuard g(s.lock);
    had = s.aes[p].have;
    std::memcpy(old, s.aes[p].text, 64);
    copy_text(s.aes[p].text, 64, text);
    s.aes[p].tick = now();
    s.aes[p].have = true;
  }
  if (!had || std::strcmp(old, text) == 0) return;
  driver_log_info("[x32] %s = \"%s\"", aes_address(p), text);
  const char* bank = p == 0 ? "A" : "B";
  for (int n = 1; n <= 48; n++)
    if (x32_aes50_digit(old, n) != x32_aes50_digit(text, n)) x32_emit(bank, n, "$ha", 0, 0);
}

void push_headamp(const OscMessage& m, int index, const char* leaf) {
  double v;
  if (!osc_first_number(m, &v)) return;
  const char* bank;
  int n;
  x32_headamp_input(index, &bank, &n);
  if (std::strcmp(leaf, "gain") == 0) {
    double db;
    if (!x32_gain_from_wire(v, &db)) {
      driver_log_detail("[x32] ignored %s: %g is not a gain", m.address, v);
      return;
    }
    x32_emit(bank, n, "g", db, 0);
  } else if (std::strcmp(leaf, "phantom") == 0) {
    if (!std::isfinite(v)) return;
    x32_emit(bank, n, "vph", v != 0 ? 1 : 0, v != 0);
  }
}

void push_userrout(bool in, int entry) {
  DriverState& s = state();
  bool user_blocks[4] = {};
  {
    LockGuard g(s.lock);
    (in ? s.user_in[entry - 1] : s.user_out[entry - 1]).valid = false;
    for (int k = 0; k < 4; k++)
      user_blocks[k] = s.card[k].valid && s.card[k].value >= 26 && s.card[k].value <= 35;
  }
  for (int k = 0; k < 4; k++)
    if (user_blocks[k]) grp_events_for_block(k);
}

}  // namespace

// Pushes: everything the desk sends that is not the reply to our query.
void x32_on_push(const OscMessage& m) {
  x32_count_event();
  const char* a = m.address;
  int p = -1;
  if (std::strcmp(a, "/-stat/aes50/A") == 0) p = 0;
  if (std::strcmp(a, "/-stat/aes50/B") == 0) p = 1;
  if (p >= 0) {
    if (m.string_count > 0) push_aes(p, m.strings[0]);
    return;
  }
  int index;
  const char* leaf;
  if (parse_headamp_address(a, &index, &leaf)) {
    push_headamp(m, index, leaf);
    return;
  }
  int k = x32_card_block_of_address(a);
  if (k >= 0) {
    {
      LockGuard g(state().lock);
      state().card[k].valid = false;
    }
    grp_events_for_block(k);
    return;
  }
  if (starts_with(a, "/config/chlink/") || starts_with(a, "/config/routing/IN/") ||
      starts_with(a, "/config/userrout/in/") || std::strcmp(a, "/config/linkcfg/hadly") == 0 ||
      (starts_with(a, "/ch/") && std::strstr(a, "/config/source")))
    x32_set_ha_link_dirty();
  bool in;
  int entry;
  if (parse_userrout_address(a, &in, &entry)) push_userrout(in, entry);
}

void x32_forget_patch() {
  DriverState& s = state();
  LockGuard g(s.lock);
  for (Cached& c : s.card) c.valid = false;
  for (Cached& c : s.user_out) c.valid = false;
  for (Cached& c : s.user_in) c.valid = false;
  for (AesStatus& st : s.aes) st.have = false;
}

void x32_reset_connection_state() {
  DriverState& s = state();
  LockGuard g(s.lock);
  for (Cached& c : s.card) c = Cached{};
  for (Cached& c : s.user_out) c = Cached{};
  for (Cached& c : s.user_in) c = Cached{};
  for (AesStatus& st : s.aes) st = AesStatus{};
  s.ha_link_read = false;
  s.ha_link_on = false;
  s.ha_link_failed = false;
  for (bool& b : s.pair_linked) b = false;
  for (int32_t& i : s.ha_index) i = -1;
}

void x32_read_ha_link() {
  DriverState& s = state();
  {
    LockGuard g(s.lock);
    // A desk that did not answer is asked again a little later, not every poll step.
    if (s.ha_link_failed && ticks_elapsed(now(), s.ha_link_failed_tick) < kHaLinkRetryMs) return;
  }
  if (!x32_take_ha_link_dirty()) return;
  bool ok = true;
  int32_t hadly = 0;
  bool linked[16] = {};
  int32_t index[32];
  for (int32_t& i : index) i = -1;
  ok = query_integer("/config/linkcfg/hadly", &hadly);
  if (ok && hadly != 0) {
    for (int p = 0; p < 16 && ok; p++) {
      if (!x32_linked()) {
        ok = false;
        break;
      }
      char addr[40];
      std::snprintf(addr, sizeof addr, "/config/chlink/%d-%d", 2 * p + 1, 2 * p + 2);
      int32_t v = 0;
      ok = query_integer(addr, &v);
      linked[p] = ok && v != 0;
      for (int c = 2 * p; ok && linked[p] && c <= 2 * p + 1; c++) {
        std::snprintf(addr, sizeof addr, "/-ha/%02d/index", c + 1);
        int32_t ha = -1;
        ok = query_integer(addr, &ha);
        index[c] = ha >= 0 && ha < kX32HeadAmps ? ha : -1;
      }
    }
  }
  if (!ok) {
    x32_set_ha_link_dirty();
    LockGuard g(s.lock);
    s.ha_link_failed = true;
    s.ha_link_failed_tick = now();
    return;
  }
  std::string line =
      hadly ? "ON - linked pairs share 48V and gain:" : "off - no head amp is mirrored";
  for (int p = 0; hadly && p < 16; p++) {
    if (!linked[p]) continue;
    char part[64];
    const char *b1, *b2;
    int n1, n2;
    if (x32_headamp_input(index[2 * p], &b1, &n1) && x32_headamp_input(index[2 * p + 1], &b2, &n2))
      std::snprintf(part, sizeof part, " ch%d-%d=%s %d+%s %d", 2 * p + 1, 2 * p + 2, b1, n1, b2,
                    n2);
    else
      std::snprintf(part, sizeof part, " ch%d-%d", 2 * p + 1, 2 * p + 2);
    line += part;
  }
  driver_log_info("[x32] HA link %s", line.c_str());
  LockGuard g(s.lock);
  s.ha_link_failed = false;
  s.ha_link_read = true;
  s.ha_link_on = hadly != 0;
  std::memcpy(s.pair_linked, linked, sizeof linked);
  std::memcpy(s.ha_index, index, sizeof index);
}

void x32_log_facts() {
  static const char* const kFacts[] = {
      "/-stat/aes50/A",   "/-stat/aes50/B",   "/-stat/aes50/state",   "/-stat/aes50/stats",
      "/-stat/xcardtype", "/-stat/xcardsync", "/config/linkcfg/hadly"};
  for (const char* address : kFacts) {
    if (!x32_linked()) return;
    OscMessage m;
    if (!x32_query(address, &m, kX32QueryMs)) {
      driver_log_info("[x32] facts: %s -> no reply", address);
      continue;
    }
    char line[301];
    int len = std::snprintf(line, sizeof line, "[x32] facts: %s %s =", address,
                            m.type_tags[0] ? m.type_tags : "(no args)");
    int si = 0;
    for (int i = 0; i < m.arg_count && len < int(sizeof line) - 1; i++) {
      size_t room = sizeof line - size_t(len);
      char t = m.arg_tag[i];
      if (t == 's')
        len +=
            std::snprintf(line + len, room, " \"%s\"", si < m.string_count ? m.strings[si++] : "");
      else if (t == 'f')
        len += std::snprintf(line + len, room, " %.4f", m.arg_value[i]);
      else if (t == 'i')
        len += std::snprintf(line + len, room, " %d", int(m.arg_value[i]));
      else
        len += std::snprintf(line + len, room, " <%c>", t);
    }
    driver_log_info("%s", line);
  }
}

namespace {
// "/headamp/NNN/<leaf>" of an input; false when it has no head amp.
bool headamp_address(const char* bank, int32_t n, const char* leaf, char (&out)[32]) {
  int ha = x32_headamp_index(bank, n);
  if (ha < 0) return false;
  std::snprintf(out, sizeof out, "/headamp/%03d/%s", ha, leaf);
  return true;
}
}  // namespace

bool x32_read_gain(const char* bank, int32_t n, double* db) {
  char addr[32];
  if (!headamp_address(bank, n, "gain", addr)) return false;
  OscMessage m;
  if (!x32_query(addr, &m, kX32QueryMs) || m.arg_count < 1 || m.arg_tag[0] != 'f') return false;
  if (!x32_gain_from_wire(m.arg_value[0], db)) {
    driver_log_info("[x32] %s answered %g, not a gain - ignored", addr, m.arg_value[0]);
    return false;
  }
  return true;
}

bool x32_read_phantom(const char* bank, int32_t n, uint8_t* on) {
  char addr[32];
  if (!headamp_address(bank, n, "phantom", addr)) return false;
  OscMessage m;
  double v;
  if (!x32_query(addr, &m, kX32QueryMs) || !osc_first_number(m, &v) || !std::isfinite(v))
    return false;
  *on = v != 0;
  return true;
}

bool x32_read_preamp(const char* bank, int32_t n, double* db, uint8_t* phantom,
                     uint8_t* gain_valid) {
  if (gain_valid) *gain_valid = 0;
  if (!x32_read_gain(bank, n, db) || !x32_read_phantom(bank, n, phantom)) return false;
  if (gain_valid) *gain_valid = 1;
  return true;
}

bool x32_send_gain(const char* bank, int32_t n, double db) {
  char addr[32];
  if (!headamp_address(bank, n, "gain", addr)) return false;
  uint8_t buf[64];
  size_t len = osc_encode_float(addr, x32_gain_to_wire(db), buf, sizeof buf);
  // Called on LV1's threads: false when it cannot go out at once, and the framework defers it.
  bool ok = x32_try_send(buf, len);
  x32_note_local_write();
  return ok;
}

bool x32_send_phantom(const char* bank, int32_t n, uint8_t on) {
  char addr[32];
  if (!headamp_address(bank, n, "phantom", addr)) return false;
  uint8_t buf[64];
  size_t len = osc_encode_int(addr, on ? 1 : 0, buf, sizeof buf);
  return x32_try_send(buf, len);
}

bool x32_read_source(const char* slot, uint32_t n, char* bank_out, uint32_t bank_len,
                     uint32_t* n_out) {
  if (!bank_out || bank_len == 0 || !n_out || n < 1) return false;
  if (n >= 33) {
    copy_text(bank_out, bank_len, "OFF");
    *n_out = 1;
    return true;
  }
  DriverState& s = state();
  int k = int(n - 1) / 8;
  int32_t v = -1;
  bool cached;
  {
    LockGuard g(s.lock);
    cached = fresh(s.card[k], now(), kRouteValidMs);
    if (cached) v = s.card[k].value;
  }
  if (!cached) {
    const char* addr = x32_card_block_address(k);
    OscMessage m;
    if (!x32_query(addr, &m, kX32QueryMs)) return false;
    char tag = m.arg_count > 0 ? m.arg_tag[0] : '-';
    if (!reply_integer(m, &v, &tag)) {
      driver_log_info("[x32] %s answered a %c, not a number - patch not read", addr, tag);
      return false;
    }
    LockGuard g(s.lock);
    if (!s.card[k].valid || s.card[k].value != v) driver_log_info("[x32] %s = %d", addr, v);
    s.card[k] = {v, now(), true};
  }
  X32Route r = x32_card_route(v, n);
  if (r.kind != X32Route::direct) {
    bool in = r.kind == X32Route::user_in;
    Cached& entry = in ? s.user_in[r.entry - 1] : s.user_out[r.entry - 1];
    int32_t u = -1;
    {
      LockGuard g(s.lock);
      cached = fresh(entry, now(), kRouteValidMs);
      if (cached) u = entry.value;
    }
    if (!cached) {
      char addr[40];
      std::snprintf(addr, sizeof addr, "/config/userrout/%s/%02d", in ? "in" : "out", r.entry);
      if (!query_integer(addr, &u)) return false;
      X32Route to = x32_user_route(u, n);
      LockGuard g(s.lock);
      if (!entry.valid || entry.value != u) {
        if (std::strcmp(to.bank, "OUT") != 0)
          driver_log_info("[x32] %s = %d (%s %u) -> card %u", addr, u, to.bank, to.n, n);
        else
          driver_log_info("[x32] %s = %d (no preamp) -> card %u", addr, u, n);
      }
      entry = {u, now(), true};
    }
    r = x32_user_route(u, n);
  }
  copy_text(bank_out, bank_len, r.bank);
  *n_out = r.n;
  return true;
}

bool x32_headamp_type(const char* bank, int32_t n, uint32_t* type) {
  if (!bank || !type) return false;
  int p = aes_port(bank);
  if (p >= 0) {
    if (n < 1 || n > 48) return false;
    char status[64];
    if (!aes_status(p, kAesDigitValidMs, status)) return false;
    int d = x32_aes50_digit(status, n);
    *type = d == 0 ? 0 : uint32_t(d + 1);
    return true;
  }
  if (x32_headamp_index(bank, 1) != 0) return false;  // only "AN" remains
  char model[24];
  {
    LockGuard g(state().lock);
    std::memcpy(model, state().model, sizeof model);
  }
  *type = x32_local_preamp_type(model, n);
  return true;
}

int32_t x32_ha_link_partner(const char* bank, int32_t n, char* bank_out, int32_t len,
                            int32_t* n_out) {
  DriverState& s = state();
  int ha = x32_headamp_index(bank, n);
  LockGuard g(s.lock);
  if (!s.ha_link_read) return -1;
  if (!s.ha_link_on || ha < 0) return 0;
  for (int c = 0; c < 32; c++) {
    if (s.ha_index[c] != ha || !s.pair_linked[c / 2]) continue;
    const char* pb;
    int pn;
    if (!x32_headamp_input(s.ha_index[c ^ 1], &pb, &pn)) return 0;
    if (bank_out && len > 0) copy_text(bank_out, size_t(len), pb);
    if (n_out) *n_out = pn;
    return 1;
  }
  return 0;
}

int32_t x32_aes50_port_present(const char* port) {
  int p = aes_port(port);
  if (p < 0 || !x32_link_alive()) return -1;
  DriverState& s = state();
  LockGuard g(s.lock);
  if (!s.aes[p].have || ticks_elapsed(now(), s.aes[p].tick) >= kAesPresentValidMs) return -1;
  return x32_aes50_present(s.aes[p].text);
}

void x32_adopt(const DeskAnswer* answer) {
  if (!answer) return;
  DriverState& s = state();
  LockGuard g(s.lock);
  copy_text(s.identity, sizeof s.identity, answer->identity);
  x32_identity_model(s.identity, s.model, sizeof s.model);
}

const char* x32_identity() {
  DriverState& s = state();
  LockGuard g(s.lock);
  return s.identity[0] ? s.identity : nullptr;
}

}  // namespace ks
