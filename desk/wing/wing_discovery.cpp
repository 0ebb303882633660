#include "desk/wing/wing_discovery.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/net_utils.h"
#include "bridge/driver_services.h"
#include "os/clock.h"
#include "os/socket.h"

namespace ks {

namespace {

constexpr size_t kFieldMax = 63;   // characters of a field before it is cut to its record field
constexpr int kIgnoredLogMax = 3;  // ignored datagrams logged per call

void put_field(char* dst, size_t cap, std::string_view src) {
  if (src.size() > kFieldMax) src = src.substr(0, kFieldMax);
  size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    dst[i] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  dst[n] = '\0';
}

// Printable form of a datagram for a log line: cut, control characters shown as '?'.
std::string shown(std::string_view d) {
  std::string s;
  for (size_t i = 0; i < d.size() && i < 60; ++i) {
    unsigned char c = static_cast<unsigned char>(d[i]);
    s += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  if (d.size() > 60) s += "...";
  return s;
}

// One OSC question without arguments; the string of its answer into text. False: no string.
bool ask_card(const char* ip, const char* address, char* text, int text_len) {
  uint8_t msg[64];
  int len = osc_put_address(msg, sizeof msg - 3, address, static_cast<int>(std::strlen(address)));
  if (len == 0) return false;
  msg[len + 1] = msg[len + 2] = msg[len + 3] = 0;  // "," and its padding: an empty type tag
  uint8_t reply[512];
  int n = udp_ask(ip, kWingOscPort, msg, len + 4, reply, sizeof reply, kWingCardWaitMs);
  if (n <= 0) return false;
  uint32_t value = 0;
  return osc_first_arg(reply, n, text, text_len, &value) == 's';
}

}  // namespace

bool wing_parse_identity(std::string_view d, const char* sender_ip, DeskAnswer* out) {
  if (!out || !sender_ip) return false;
  // A text line: what follows a NUL is not part of it.
  size_t nul = d.find('\0');
  if (nul != std::string_view::npos) d = d.substr(0, nul);
  if (d.substr(0, 5) != "WING,") return false;  // also keeps out the "WING?" question itself
  size_t commas[kWingAnswerMax + 1];
  size_t count = 0;
  for (size_t i = 0; i < d.size() && count < sizeof commas / sizeof commas[0]; ++i)
    if (d[i] == ',') commas[count++] = i;
  if (count < 5) return false;
  auto between = [&](size_t a, size_t b) {
    return d.substr(commas[a] + 1, commas[b] - commas[a] - 1);
  };
  DeskAnswer a{};
  put_field(a.ip, sizeof a.ip, sender_ip);
  put_field(a.name, sizeof a.name, between(1, count - 3));
  put_field(a.model, sizeof a.model, between(count - 3, count - 2));
  char serial[64];
  put_field(serial, sizeof serial, between(count - 2, count - 1));
  put_field(a.id, sizeof a.id, serial[0] ? serial : a.ip);
  std::string_view line = d.size() > sizeof a.identity - 1 ? d.substr(0, sizeof a.identity - 1) : d;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    a.identity[i] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  a.card = -1;
  *out = a;
  return true;
}

int32_t wing_card_from(const char* opt_mod, const char* card_type) {
  if ((opt_mod && std::strstr(opt_mod, "WSG")) || (card_type && std::strstr(card_type, "WSG")))
    return 1;
  if (opt_mod && card_type) return 0;
  return -1;
}

int32_t KS_ABI wing_discover(const char* ip, DeskAnswer* out, int32_t max, uint32_t timeout_ms) {
  if (!out || max < 1) return 0;
  if (max > kWingMaxAnswers) max = kWingMaxAnswers;
  uint32_t asked = 0;
  if (ip) {
    auto a = parse_ipv4(std::string_view(ip, strnlen(ip, 64)));
    if (!a) return 0;
    asked = *a;
  }
  Socket main = Socket::udp();
  if (!main.valid() || !main.bind({0, 0})) return 0;
  static const char kQuestion[] = "WING?";
  const size_t qlen = sizeof kQuestion - 1;
  Socket bcast[kWingMaxBroadcastSockets];
  int nb = 0;
  if (ip) {
    main.send_to(kQuestion, qlen, {asked, kWingDiscoveryPort});
  } else {
    main.set_broadcast(true);
    uint32_t targets[kWingMaxTargets];
    int nt = discovery_targets(targets, kWingMaxTargets);
    for (int i = 0; i < nt; ++i)
      main.send_to(kQuestion, qlen, {ipv4_from_net(targets[i]), kWingDiscoveryPort});
    nb = open_broadcast_sockets(bcast, nullptr, kWingMaxBroadcastSockets);
    for (int i = 0; i < nb; ++i)
      bcast[i].send_to(kQuestion, qlen, {kBroadcast, kWingDiscoveryPort});
  }

  Socket::Native list[1 + kWingMaxBroadcastSockets];
  list[0] = main.native();
  for (int i = 0; i < nb; ++i) list[1 + i] = bcast[i].native();
  Socket* owners[1 + kWingMaxBroadcastSockets];
  owners[0] = &main;
  for (int i = 0; i < nb; ++i) owners[1 + i] = &bcast[i];

  int n = 0, ignored = 0;
  const Tick start = tick_now();
  while (n < max) {
    uint32_t spent = ticks_elapsed(tick_now(), start);
    if (spent >= timeout_ms) break;
    int idx = wait_sockets_readable(list, 1 + nb, timeout_ms - spent);
    if (idx < 0) break;
    char buf[kWingAnswerMax + 1];
    Endpoint from;
    int got = owners[idx]->recv_from(buf, sizeof buf, &from, 0);
    if (got <= 0 && got != kSocketTruncated) continue;
    std::string sender = format_ipv4(from.addr);
    const char* why = nullptr;
    DeskAnswer a;
    if (got == kSocketTruncated || got > kWingAnswerMax)
      why = "over-long";
    else if (ip && from.addr != asked)
      why = "not from the asked address";
    else if (!wing_parse_identity(std::string_view(buf, size_t(got)), sender.c_str(), &a))
      why = "not an identity line";
    if (why) {
      if (got == kSocketTruncated) got = 0;
      if (ignored++ < kIgnoredLogMax)
        driver_log_info("[disc] ignored a datagram from %s (%s): %s", sender.c_str(), why,
                        shown(std::string_view(buf, size_t(got))).c_str());
      continue;
    }
    bool dup = false;
    for (int i = 0; i < n && !dup; ++i) dup = std::strcmp(out[i].ip, a.ip) == 0;
    if (dup) continue;
    out[n++] = a;
    if (ip) break;  // the one asked has answered
  }
  main.close();
  for (int i = 0; i < nb; ++i) bcast[i].close();

  for (int i = 0; i < n && !driver_stopping(); ++i) {
    char opt[64] = {}, type[64] = {};
    bool have_opt = ask_card(out[i].ip, "/$syscfg/opt_mod", opt, sizeof opt);
    bool have_type = !driver_stopping() && ask_card(out[i].ip, "/cards/$type", type, sizeof type);
    out[i].card = wing_card_from(have_opt ? opt : nullptr, have_type ? type : nullptr);
  }
  return n;
}

}  // namespace ks
