// The simulated desk's side of the native byte stream: its own encoder for replies and pushes
// and its own reader for requests, written apart from the driver's codec so that a fault in one
// cannot hide behind the same fault in the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::sim {

struct SimValue {
  // kRaw: a float the desk sends as 0xD6 (a position 0..1, not a value in the node's unit).
  enum class Kind { kNone, kFloat, kInt, kFlag, kText, kRaw };
  Kind kind = Kind::kNone;
  double number = 0;
  std::string text;

  static SimValue of_float(double v) { return {Kind::kFloat, v, {}}; }
  static SimValue of_int(int v) { return {Kind::kInt, double(v), {}}; }
  static SimValue of_flag(bool on) { return {Kind::kFlag, on ? 1.0 : 0.0, {}}; }
  static SimValue of_text(std::string t) { return {Kind::kText, 0, std::move(t)}; }
  static SimValue of_raw(double v) { return {Kind::kRaw, v, {}}; }
  bool operator==(const SimValue& o) const {
    return kind == o.kind && number == o.number && text == o.text;
  }
  std::string describe() const;
};

// Bytes bound for the wire: data bytes 0xDF are doubled into DF DE as they are added.
class WireOut {
public:
  void marker(uint8_t channel) {
    out_.push_back(0xDF);
    out_.push_back(channel);
  }
  void raw(uint8_t b) { out_.push_back(b); }
  void data(uint8_t b) {
    out_.push_back(b);
    if (b == 0xDF) out_.push_back(0xDE);
  }
  void data_be32(uint32_t v) {
    for (int i = 3; i >= 0; --i) data(uint8_t(v >> (8 * i)));
  }
  void value(const SimValue& v);
  // A node item: D7, the hash, the value token.
  void item(uint32_t hash, const SimValue& v) {
    data(0xD7);
    data_be32(hash);
    value(v);
  }
  const std::vector<uint8_t>& bytes() const { return out_; }

private:
  std::vector<uint8_t> out_;
};

// One request read off the wire.
struct SimRequest {
  enum class Kind { kRead, kDefinition, kWrite };
  Kind kind = Kind::kRead;
  std::string path;   // "io/in/LCL/1/g": node names and indexes joined with '/'
  uint32_t hash = 0;  // addressed by node hash (D7 + hash) instead of a path; the desk resolves it
  SimValue value;     // writes only
};

// Reads requests out of any chunking of the byte stream. Bytes that fit no request are counted
// and skipped.
class RequestReader {
public:
  // Appends the requests completed by these bytes.
  void feed(const uint8_t* p, size_t n, std::vector<SimRequest>& out);
  uint32_t junk() const { return junk_; }

private:
  void byte(uint8_t b, std::vector<SimRequest>& out);
  void token(std::vector<SimRequest>& out);

  bool escape_ = false;
  std::vector<uint8_t> tok_;  // token being collected
  size_t need_ = 0;           // its full length once known
  bool in_path_ = false;
  std::vector<std::string> segs_;
  uint32_t hash_ = 0;
  uint32_t junk_ = 0;
};

// The simulated firmware's node id: FNV-1a of the path under a per-build salt; never 0.
uint32_t node_hash(const std::string& salt, const std::string& path);

}  // namespace ks::sim
