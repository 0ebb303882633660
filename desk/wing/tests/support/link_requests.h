// Requests the link tests make of the simulated desk, as the driver makes them: one frame per
// read, the reply's bytes kept, its value decoded from the first whole token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "desk/wing/wing_link.h"
#include "desk/wing/wing_nodes.h"
#include "desk/wing/wing_parse.h"

namespace ks::test {

inline std::string input_path(const char* bank, int n, const char* leaf) {
  return std::string("io/in/") + bank + "/" + std::to_string(n) + "/" + leaf;
}

inline NodeFrame read_frame(const char* bank, int n, const char* leaf, uint8_t end = kDataRequest) {
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, leaf);
  frame_put_byte(f, end);
  return f;
}

struct Reply {
  bool ok = false;
  std::vector<uint8_t> bytes;
  uint32_t hash() const { return bytes.size() >= 5 ? read_be32(bytes.data() + 1) : 0; }
  double value() const {
    double v = -999;
    if (bytes.size() > 5) decode_value(bytes.data() + 5, bytes.size() - 5, &v, nullptr);
    return v;
  }
};

inline Reply request(const NodeFrame& f, uint32_t expected, uint32_t timeout_ms = 400,
                     bool block = false, bool multi = false) {
  Reply r;
  uint8_t buf[kReplyCapacity];
  uint32_t n = 0;
  r.ok = link_request(f, block, expected, buf, sizeof buf, &n, timeout_ms, multi);
  r.bytes.assign(buf, buf + n);
  return r;
}

// A read as the driver makes it: guarded by the node's hash once that is learned.
inline Reply read_leaf(const char* bank, int n, const char* leaf, uint32_t timeout_ms = 400) {
  return request(read_frame(bank, n, leaf), node_table().lookup(bank, uint32_t(n), leaf),
                 timeout_ms);
}

}  // namespace ks::test
