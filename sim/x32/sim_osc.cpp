#include "sim/x32/sim_osc.h"

#include <cstring>

namespace ks::sim {

namespace {

void put_text(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  do out.push_back(0);
  while (out.size() % 4);
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// Reads a padded text at *pos; nothing when it is not terminated inside the datagram.
std::optional<std::string> take_text(const uint8_t* d, size_t len, size_t* pos) {
  size_t start = *pos;
  size_t i = start;
  while (i < len && d[i]) i++;
  if (i >= len) return std::nullopt;
  *pos = (i + 4) & ~size_t(3);
  return std::string(reinterpret_cast<const char*>(d + start), i - start);
}

}  // namespace

OscArg osc_i(int32_t v) {
  OscArg a;
  a.type = 'i';
  a.i = v;
  return a;
}
OscArg osc_f(float v) {
  OscArg a;
  a.type = 'f';
  a.f = v;
  return a;
}
OscArg osc_s(std::string v) {
  OscArg a;
  a.type = 's';
  a.s = std::move(v);
  return a;
}

std::vector<uint8_t> osc_write(const OscPacket& p) {
  std::vector<uint8_t> out;
  put_text(out, p.address);
  std::string tags = ",";
  for (const OscArg& a : p.args) tags += a.type;
  put_text(out, tags);
  for (const OscArg& a : p.args) {
    if (a.type == 'i') {
      put_u32(out, uint32_t(a.i));
    } else if (a.type == 'f') {
      uint32_t bits;
      std::memcpy(&bits, &a.f, 4);
      put_u32(out, bits);
    } else if (a.type == 's') {
      put_text(out, a.s);
    }
  }
  return out;
}

std::optional<OscPacket> osc_read(const uint8_t* d, size_t len) {
  if (len < 4 || len % 4 || d[0] != '/') return std::nullopt;
  size_t pos = 0;
  OscPacket p;
  auto address = take_text(d, len, &pos);
  if (!address) return std::nullopt;
  p.address = *address;
  if (pos == len) return p;
  auto tags = take_text(d, len, &pos);
  if (!tags || tags->empty() || (*tags)[0] != ',') return std::nullopt;
  for (size_t t = 1; t < tags->size(); t++) {
    OscArg a;
    a.type = (*tags)[t];
    if (a.type == 'i' || a.type == 'f') {
      if (len - pos < 4) return std::nullopt;
      uint32_t v = uint32_t(d[pos]) << 24 | uint32_t(d[pos + 1]) << 16 | uint32_t(d[pos + 2]) << 8 |
                   d[pos + 3];
      pos += 4;
      if (a.type == 'i')
        a.i = int32_t(v);
      else
        std::memcpy(&a.f, &v, 4);
    } else if (a.type == 's') {
      auto s = take_text(d, len, &pos);
      if (!s) return std::nullopt;
      a.s = *s;
    } else {
      return std::nullopt;
    }
    p.args.push_back(std::move(a));
  }
  return p;
}

}  // namespace ks::sim
