#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bridge/text.h"
#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "bridge/driver_services.h"
#include "bridge/net_utils.h"
#include "os/adapters.h"
#include "os/clock.h"
#include "os/socket.h"

namespace ks {

namespace {

constexpr int kMaxAnswers = 8;
constexpr int kMaxTargets = 32;
constexpr int kMaxBroadcastSockets = 16;
constexpr int kIgnoredLoggedPerSweep = 5;

X32DiscoveryNet g_net;
bool g_first_discovery_logged = false;

// The framework's lists are in network order; the driver's in host order.
int32_t framework_targets(uint32_t* out, int32_t max) {
  int n = discovery_targets(out, max);
  for (int i = 0; i < n; i++) out[i] = ipv4_from_net(out[i]);
  return n;
}

int32_t framework_broadcast_sockets(Socket* out, int32_t max) {
  return open_broadcast_sockets(out, nullptr, max);
}

// Formats into a fixed field, cutting what does not fit (the fields are the record's).
void put_field(char* out, size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(out, cap, fmt, ap);
  va_end(ap);
}

// The card question: a fresh socket, one datagram, one reply from the desk's port.
int32_t card_of(uint32_t ip) {
  Socket s = Socket::udp();
  if (!s.valid() || !s.bind({0, 0})) return -1;
  uint8_t q[kOscMaxQuery];
  size_t n = osc_encode_query("/-stat/xcardtype", q, sizeof q);
  Endpoint desk{ip, kX32Port};
  if (s.send_to(q, n, desk) != int(n)) return -1;
  Tick deadline = tick_now() + kX32CardQueryMs;
  uint8_t buf[512];
  while (!tick_reached(tick_now(), deadline)) {
    Endpoint from;
    int got = s.recv_from(buf, sizeof buf, &from, ticks_elapsed(deadline, tick_now()));
    if (got <= 0 || !(from == desk)) continue;
    OscMessage m;
    if (osc_parse(buf, size_t(got), &m) != OscError::ok ||
        std::strcmp(m.address, "/-stat/xcardtype") != 0)
      continue;
    if (m.arg_count < 1 || m.arg_tag[0] != 'i') return -1;
    int32_t v = int32_t(m.arg_value[0]);
    return v == 11 ? 1 : v < 11 ? 0 : -1;
  }
  return -1;
}

// The desk's texts go into log lines and the status block: control characters become '?'.
void printable(char* s) {
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c < 0x20 || c == 0x7F) *s = '?';
  }
}

}  // namespace

bool x32_parse_xinfo(const uint8_t* data, size_t n, const char* sender_ip, DeskAnswer* out) {
  if (!data || !sender_ip || !out) return false;
  OscMessage m;
  if (osc_parse(data, n, &m) != OscError::ok || std::strcmp(m.address, "/xinfo") != 0 ||
      m.string_count < 3)
    return false;
  DeskAnswer a;
  std::memset(&a, 0, sizeof a);
  copy_text(a.ip, sizeof a.ip, sender_ip);
  copy_text(a.name, sizeof a.name, m.strings[1]);
  copy_text(a.model, sizeof a.model, m.strings[2]);
  put_field(a.identity, sizeof a.identity, "X32,%s,%s,%s,%s", m.strings[0], m.strings[1],
            m.strings[2], m.strings[3]);
  printable(a.ip);
  printable(a.name);
  printable(a.model);
  printable(a.identity);
  put_field(a.id, sizeof a.id, "name:%s", a.name);
  a.card = -1;
  *out = a;
  return true;
}

void x32_set_discovery_net(const X32DiscoveryNet& net) { g_net = net; }

int32_t x32_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t wait_ms) {
  if (!out || max < 1) return 0;
  if (max > kMaxAnswers) max = kMaxAnswers;
  std::optional<uint32_t> only;
  if (ip) {
    only = parse_ipv4(ip);
    if (!only) return 0;
  }
  Socket main = Socket::udp();
  if (!main.valid()) return 0;
  if (!only) main.set_broadcast(true);
  if (!main.bind({0, 0})) return 0;

  uint8_t q[16];
  size_t qn = osc_encode_query("/xinfo", q, sizeof q);
  bool log_sends = !g_first_discovery_logged;
  g_first_discovery_logged = true;

  std::vector<Socket> extra(kMaxBroadcastSockets);
  int n_extra = 0;
  if (only) {
    main.send_to(q, qn, {*only, kX32Port});
  } else {
    uint32_t targets[kMaxTargets];
    int nt = (g_net.targets ? g_net.targets : framework_targets)(targets, kMaxTargets);
    for (int i = 0; i < nt && i < kMaxTargets; i++) {
      bool ok = main.send_to(q, qn, {targets[i], kX32Port}) == int(qn);
      if (log_sends)
        driver_log_info("[desk] /xinfo -> %s:%d %s", format_ipv4(targets[i]).c_str(), kX32Port,
                        ok ? "sent" : "SEND FAILED");
    }
    n_extra = (g_net.broadcast_sockets ? g_net.broadcast_sockets : framework_broadcast_sockets)(
        extra.data(), kMaxBroadcastSockets);
    if (n_extra > kMaxBroadcastSockets) n_extra = kMaxBroadcastSockets;
    for (int i = 0; i < n_extra; i++) {
      bool ok = extra[size_t(i)].send_to(q, qn, {kBroadcast, kX32Port}) == int(qn);
      if (log_sends) {
        auto local = extra[size_t(i)].local_endpoint();
        driver_log_info("[desk] /xinfo -> 255.255.255.255:%d out of %s %s", kX32Port,
                        local ? format_ipv4(local->addr).c_str() : "?",
                        ok ? "sent" : "SEND FAILED");
      }
    }
  }

  std::vector<const Socket*> all = {&main};
  for (int i = 0; i < n_extra; i++) all.push_back(&extra[size_t(i)]);
  int found = 0;
  int ignored_logged = 0;
  Tick deadline = tick_now() + wait_ms;
  uint8_t buf[512];
  while (found < max && !tick_reached(tick_now(), deadline)) {
    int r = select_readable(all.data(), int(all.size()), ticks_elapsed(deadline, tick_now()));
    if (r < 0) break;
    Endpoint from;
    int got = const_cast<Socket*>(all[size_t(r)])->recv_from(buf, sizeof buf, &from, 0);
    if (got == kSocketTimeout || got == kSocketError) continue;
    if (only && from.addr != *only) continue;
    std::string sender = format_ipv4(from.addr);
    DeskAnswer answer;
    if (got <= 0 || !x32_parse_xinfo(buf, size_t(got), sender.c_str(), &answer)) {
      // Our own question echoed by a broadcast, or anything else that is not a desk's answer.
      if (ignored_logged++ < kIgnoredLoggedPerSweep)
        driver_log_info("[desk] ignored a %d-byte reply from %s during discovery",
                        got < 0 ? 0 : got, format_ipv4(from.addr).c_str());
      continue;
    }
    bool seen = false;
    for (int i = 0; i < found; i++) seen |= std::strcmp(out[i].ip, sender.c_str()) == 0;
    if (seen) continue;
    DeskAnswer& a = out[found++];
    a = answer;
    uint8_t mac[6];
    if (arp_mac(from.addr, mac))  // else the "name:" id stays
      std::snprintf(a.id, sizeof a.id, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                    mac[3], mac[4], mac[5]);
    if (only) break;
  }
  for (int i = 0; i < found; i++) {
    if (driver_stopping()) break;
    auto addr = parse_ipv4(out[i].ip);
    if (addr) out[i].card = card_of(*addr);
  }
  return found;
}

}  // namespace ks
