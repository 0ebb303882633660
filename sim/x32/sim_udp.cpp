#include "sim/x32/sim_udp.h"

#include <cstdio>

namespace ks::sim {

bool parse_loopback(const std::string& text, uint32_t* ip) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a != 127 || b > 255 || c > 255 || d > 255) return false;
  *ip = a << 24 | b << 16 | c << 8 | d;
  return true;
}

std::string peer_text(const UdpPeer& p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", p.ip >> 24, (p.ip >> 16) & 255,
                (p.ip >> 8) & 255, p.ip & 255, p.port);
  return buf;
}

}  // namespace ks::sim
