// Input names (through the desk's channel map, else the input's own name) and the head-amp
// type with its once-only log lines.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "bridge/text.h"
#include "desk/wing/wing_codec.h"
#include "desk/wing/wing_desk_rules.h"
#include "desk/wing/wing_link.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"
#include "bridge/driver_services.h"
#include "desk/wing/wing_slots.h"
#include "os/clock.h"
#include "os/lock.h"

namespace ks {

namespace {

constexpr uint32_t kMapMaxAgeMs = 5000;
constexpr int kMapChannels = 40;
constexpr int kMapEntries = 64;
constexpr int kMapFailLimit = 3;
// Bank word under which the channel reads are learned; no desk bank has this name.
constexpr const char* kChannelBank = "$ch";

struct MapEntry {
  char group[8];
  uint32_t index;
  char name[20];
};

struct ChannelMap {
  CriticalSection lock;
  MapEntry entries[kMapEntries];
  int count = 0;
  bool built = false;
  Tick built_at = 0;
};

ChannelMap& channel_map() {
  static ChannelMap m;
  return m;
}

struct OnceKeys {
  CriticalSection lock;
  char keys[96][16];
  int count = 0;
};

OnceKeys& once_keys() {
  static OnceKeys k;
  return k;
}

// True the first time a key is seen; once the table is full every message is written.
bool first_time(const char* prefix, const char* bank, int32_t n) {
  char key[16];
  std::snprintf(key, sizeof key, "%s%s%d", prefix, bank, int(n));
  OnceKeys& k = once_keys();
  LockGuard<CriticalSection> g(k.lock);
  for (int i = 0; i < k.count; ++i)
    if (std::strcmp(k.keys[i], key) == 0) return false;
  if (k.count >= 96) return true;
  std::memcpy(k.keys[k.count++], key, sizeof key);
  return true;
}

void channel_frame(NodeFrame& f, int c, std::initializer_list<const char*> leaves) {
  frame_reset(f);
  frame_begin_path(f);
  frame_put_string(f, "ch");
  frame_put_index(f, c);
  for (const char* l : leaves) frame_put_string(f, l);
  frame_put_byte(f, kDataRequest);
}

bool ask_reply(const NodeFrame& f, const char* leaf_key, int c, uint8_t* buf, uint32_t* len) {
  uint32_t expected = node_table().lookup(kChannelBank, uint32_t(c), leaf_key);
  return link_request(f, false, expected, buf, kReplyCapacity, len, 400, false) && *len >= 6;
}

bool is_string_token(uint8_t t) { return t == 0xD0 || t == 0xD1 || (t >= 0x80 && t <= 0xBF); }

bool channel_text(int c, std::initializer_list<const char*> leaves, const char* key, char* out,
                  size_t cap) {
  NodeFrame f;
  channel_frame(f, c, leaves);
  uint8_t buf[kReplyCapacity];
  uint32_t len = 0;
  if (!ask_reply(f, key, c, buf, &len) || !is_string_token(buf[5])) return false;
  node_hash_learn(read_be32(buf + 1), kChannelBank, uint32_t(c), key);
  return decode_text(buf + 5, len - 5, out, cap);
}

// Reads one channel's connection and name. False when the desk did not answer.
bool read_channel(int c, MapEntry* e, bool* usable) {
  *usable = false;
  char grp[8];
  if (!channel_text(c, {"in", "conn", "grp"}, "cgrp", grp, sizeof grp)) return false;
  NodeFrame f;
  channel_frame(f, c, {"in", "conn", "in"});
  uint8_t buf[kReplyCapacity];
  uint32_t len = 0;
  if (!ask_reply(f, "cin", c, buf, &len)) return false;
  double idx = 0;
  uint8_t t = buf[5];
  bool numeric = t <= 0x3F || t == 0xD3 || t == 0xD4 || t == 0xD5;
  if (!numeric || !decode_value(buf + 5, len - 5, &idx, nullptr)) return false;
  node_hash_learn(read_be32(buf + 1), kChannelBank, uint32_t(c), "cin");
  char name[20];
  if (!channel_text(c, {"name"}, "cnm", name, sizeof name)) return false;
  if (!grp[0] || iequals(grp, "OFF") || idx < 1 || idx > 64 || !name[0]) return true;
  std::snprintf(e->group, sizeof e->group, "%s", grp);
  e->index = uint32_t(idx);
  std::snprintf(e->name, sizeof e->name, "%s", name);
  *usable = true;
  return true;
}

void rebuild_map_if_old(ChannelMap& m) {
  Tick now = system_clock().now();
  if (m.built && ticks_elapsed(now, m.built_at) < kMapMaxAgeMs) return;
  MapEntry fresh[kMapEntries];
  int count = 0, failures = 0;
  for (int c = 1; c <= kMapChannels; ++c) {
    MapEntry e{};
    bool usable = false;
    if (!read_channel(c, &e, &usable)) {
      if (++failures >= kMapFailLimit) return;  // the desk is not answering: keep the old map
      continue;
    }
    failures = 0;
    if (!usable || count >= kMapEntries) continue;
    bool dup = false;
    for (int i = 0; i < count && !dup; ++i)
      dup = fresh[i].index == e.index && iequals(fresh[i].group, e.group);
    if (!dup) fresh[count++] = e;
  }
  std::memcpy(m.entries, fresh, sizeof(MapEntry) * size_t(count));
  m.count = count;
  m.built = true;
  m.built_at = system_clock().now();
}

}  // namespace

void wing_reset_name_state() {
  {
    ChannelMap& m = channel_map();
    LockGuard<CriticalSection> g(m.lock);
    m.count = 0;
    m.built = false;
  }
  OnceKeys& k = once_keys();
  LockGuard<CriticalSection> g(k.lock);
  k.count = 0;
}

bool KS_ABI wing_read_name(const char* bank, int32_t n, char* out, int32_t len) {
  if (!out || len <= 0) return false;
  out[0] = 0;
  if (!bank || !*bank || n < 1) return false;
  {
    ChannelMap& m = channel_map();
    LockGuard<CriticalSection> g(m.lock);
    rebuild_map_if_old(m);
    for (int i = 0; i < m.count; ++i) {
      if (m.entries[i].index == uint32_t(n) && iequals(m.entries[i].group, bank)) {
        std::snprintf(out, size_t(len), "%s", m.entries[i].name);
        return true;
      }
    }
  }
  char name[24];  // the desk keeps up to 23 characters; the caller gets what fits its buffer
  if (!wing_read_text(bank, n, "name", name, sizeof name)) return false;
  if (is_placeholder_name(name)) return true;
  std::snprintf(out, size_t(len), "%s", name);
  return true;
}

bool KS_ABI wing_headamp_type(const char* bank, int32_t n, uint32_t* type) {
  double v = 0;
  if (!wing_read_leaf(bank, n, "$ha", &v, nullptr)) return false;
  int32_t t = int32_t(v);
  if (t != 0 && t != 1 && t != 3 && first_time("t", bank, n))
    driver_log_info(
        "[patch] %s %d: head-amp type %d has not been seen before - counted as a head amp", bank,
        int(n), int(t));
  if (t >= 2) {
    char rmt[16];
    bool rmt_ok = wing_read_text(bank, n, "rmt", rmt, sizeof rmt);
    if (!(rmt_ok && std::strcmp(rmt, "OFF") == 0)) {
      double ract = 0;
      if (!wing_read_leaf(bank, n, "$ract", &ract, nullptr)) {
        if (rmt_ok && first_time("u", bank, n))
          driver_log_info(
              "[patch] %s %d: remote control is enabled for this input and the desk will not say "
              "whether it is active (%d) - no knob until it does",
              bank, int(n), int(t));
      } else if (ract != 0) {
        if (first_time("r", bank, n))
          driver_log_info(
              "[patch] %s %d: preamp controlled remotely by another desk over AES50 - no knob here (%d)",
              bank, int(n), int(ract));
        t = 0;
      }
    }
  }
  if (type) *type = uint32_t(t);
  return true;
}

}  // namespace ks
