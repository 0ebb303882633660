#include "bridge/net_utils.h"

#include <cstring>

#include "bridge/config.h"

namespace ks {

uint32_t ipv4_to_net(uint32_t h) {
  const uint8_t b[4] = {uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h)};
  uint32_t n;
  std::memcpy(&n, b, 4);
  return n;
}

uint32_t ipv4_from_net(uint32_t n) {
  uint8_t b[4];
  std::memcpy(b, &n, 4);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

bool ipv4_parse_net(const char* text, uint32_t* out) {
  if (!text) return false;
  auto a = parse_ipv4(std::string_view(text, strnlen(text, 64)));
  if (!a) return false;
  if (out) *out = ipv4_to_net(*a);
  return true;
}

namespace {

bool add_target(uint32_t* out, int max, int& n, uint32_t addr) {
  if (n >= max) return false;
  for (int i = 0; i < n; ++i)
    if (out[i] == addr) return true;
  out[n++] = addr;
  return true;
}

}  // namespace

int discovery_targets_for(const char* hint, const char* ip,
                          const std::vector<Ipv4Adapter>& adapters, uint32_t* out, int max) {
  if (!out || max < 1) return 0;
  int n = 0;
  add_target(out, max, n, 0xFFFFFFFFu);
  uint32_t a;
  if (ipv4_parse_net(hint, &a)) add_target(out, max, n, a);
  if (ipv4_parse_net(ip, &a)) add_target(out, max, n, a);  // listed once when equal to hint
  for (const auto& ad : adapters) {
    if (!ad.up || ad.prefix_length >= 31) continue;  // a /31 or /32 has no broadcast address
    uint32_t mask = prefix_to_mask(ad.prefix_length);
    if (!add_target(out, max, n, ipv4_to_net((ad.address & mask) | ~mask))) break;
  }
  return n;
}

int discovery_targets(uint32_t* out, int max) {
  char hint[64], ip[64];
  config_hint(hint);
  config_ip(ip);
  return discovery_targets_for(hint, ip, list_ipv4_adapters(), out, max);
}

int open_broadcast_sockets_for(const std::vector<Ipv4Adapter>& adapters, Socket* out,
                               uint32_t* bound_addresses, int max) {
  if (!out || max < 1) return 0;
  int n = 0;
  for (const auto& ad : adapters) {
    if (n >= max) break;
    if (!ad.up || ad.loopback) continue;
    Socket s = Socket::udp();
    if (!s.valid() || !s.set_broadcast(true) || !s.bind({ad.address, 0}))
      continue;  // closed on leaving
    if (bound_addresses) bound_addresses[n] = ipv4_to_net(ad.address);
    out[n++] = std::move(s);
  }
  return n;
}

int open_broadcast_sockets(Socket* out, uint32_t* bound_addresses, int max) {
  return open_broadcast_sockets_for(list_ipv4_adapters(), out, bound_addresses, max);
}

bool is_configured_address_for(const char* hint, const char* ip, const uint32_t* address) {
  if (!address) return false;
  uint32_t a;
  return (ipv4_parse_net(hint, &a) && a == *address) || (ipv4_parse_net(ip, &a) && a == *address);
}

int wait_sockets_readable(const Socket::Native* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  return select_readable(sockets, n > kMaxWaitSockets ? kMaxWaitSockets : n, timeout_ms);
}

int wait_sockets_readable(const Socket* sockets, int n, uint32_t timeout_ms) {
  if (!sockets || n < 1) return -1;
  if (n > kMaxWaitSockets) n = kMaxWaitSockets;
  Socket::Native raw[kMaxWaitSockets];
  for (int i = 0; i < n; ++i) raw[i] = sockets[i].native();
  return select_readable(raw, n, timeout_ms);
}

int osc_put_address(uint8_t* out, int cap, const char* address, int len) {
  if (!out || !address || len < 0 || cap < 1) return 0;
  const int padded = (len / 4 + 1) * 4;  // at least one NUL
  if (padded + 1 > cap) return 0;        // the "," must fit too
  std::memcpy(out, address, static_cast<size_t>(len));
  std::memset(out + len, 0, static_cast<size_t>(padded - len));
  out[padded] = ',';
  return padded;
}

namespace {

// Length of the NUL-terminated, 4-padded OSC string at msg[at], or -1 when it runs off the end.
int padded_string(const uint8_t* msg, int len, int at) {
  if (at >= len) return -1;
  const void* nul = std::memchr(msg + at, 0, static_cast<size_t>(len - at));
  if (!nul) return -1;
  int body = static_cast<int>(static_cast<const uint8_t*>(nul) - (msg + at));
  int padded = (body / 4 + 1) * 4;
  return at + padded <= len ? padded : -1;
}

}  // namespace

uint8_t osc_first_arg(const uint8_t* msg, int len, char* text, int text_len, uint32_t* value) {
  if (!msg || len < 8) return 0;
  int addr = padded_string(msg, len, 0);
  if (addr < 0) return 0;
  int tags_at = addr;
  int tags = padded_string(msg, len, tags_at);
  if (tags < 0 || msg[tags_at] != ',' || msg[tags_at + 1] == 0) return 0;
  const uint8_t type = msg[tags_at + 1];
  const int arg = tags_at + tags;
  if (type == 's') {
    // The string must end inside the message; its padding may be missing at the very end.
    if (arg >= len || !std::memchr(msg + arg, 0, static_cast<size_t>(len - arg))) return 0;
    if (text && text_len > 0) {
      size_t body = strlen(reinterpret_cast<const char*>(msg + arg));
      size_t keep =
          body < static_cast<size_t>(text_len - 1) ? body : static_cast<size_t>(text_len - 1);
      std::memcpy(text, msg + arg, keep);
      text[keep] = '\0';
    }
    return 's';
  }
  if (type == 'i' || type == 'f') {
    if (arg + 4 > len) return 0;
    if (value)
      *value = (uint32_t(msg[arg]) << 24) | (uint32_t(msg[arg + 1]) << 16) |
               (uint32_t(msg[arg + 2]) << 8) | msg[arg + 3];
    return type;
  }
  return 0;
}

int udp_ask(const char* ip, uint16_t port, const uint8_t* data, int len, uint8_t* reply, int cap,
            uint32_t timeout_ms) {
  if (reply && cap >= 1) reply[0] = 0;
  if (!ip || !reply || cap < 2 || !data || len < 0) return 0;
  auto addr = parse_ipv4(std::string_view(ip, strnlen(ip, 64)));
  if (!addr) return 0;
  Socket s = Socket::udp();
  if (!s.valid() || !s.set_recv_timeout(timeout_ms)) return 0;
  if (s.send_to(data, static_cast<size_t>(len), {*addr, port}) != len) return 0;
  // Receive the whole datagram, then keep what fits: a longer answer is cut, not lost.
  std::vector<uint8_t> buf(65536);
  int n = s.recv_from(buf.data(), buf.size(), nullptr, timeout_ms);
  if (n <= 0) return 0;
  int keep = n < cap - 1 ? n : cap - 1;
  std::memcpy(reply, buf.data(), static_cast<size_t>(keep));
  reply[keep] = 0;
  return keep;
}

}  // namespace ks
