// The simulator's own OSC 1.0 reading and writing, kept apart from the product's codec so that a
// fault in one cannot hide behind the same fault in the other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ks::sim {

struct OscArg {
  char type = 0;  // 'i', 'f' or 's'
  int32_t i = 0;
  float f = 0;
  std::string s;
};

struct OscPacket {
  std::string address;
  std::vector<OscArg> args;
};

std::vector<uint8_t> osc_write(const OscPacket& p);
// Strict: the whole datagram must be well-formed OSC with 'i', 'f', 's' arguments only.
std::optional<OscPacket> osc_read(const uint8_t* data, size_t len);

OscArg osc_i(int32_t v);
OscArg osc_f(float v);
OscArg osc_s(std::string v);

}  // namespace ks::sim
