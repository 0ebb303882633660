// The WING native byte stream: frame writers, the 0xDF escape rule, the token table and the
// value decoders. Pure code: no sockets, no threads, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

constexpr uint32_t kNodeFrameCapacity = 256;

// Marker bytes that open and close the parts of a request.
constexpr uint8_t kEscape = 0xDF;       // introduces a two-byte marker on the wire
constexpr uint8_t kEscapedData = 0xDE;  // DF DE on the wire is one data byte 0xDF
constexpr uint8_t kControlChannel = 0xD1;
constexpr uint8_t kMeterChannel = 0xD3;
constexpr uint8_t kRoot = 0xDA;
constexpr uint8_t kDataRequest = 0xDC;
constexpr uint8_t kDefinitionRequest = 0xDD;
constexpr uint8_t kEndOfReply = 0xDE;
constexpr uint8_t kNodeItem = 0xD7;
constexpr uint8_t kBlock = 0xDF;
constexpr uint8_t kFloat = 0xD5;

// One request as it goes on the wire (already escaped). Writers drop what does not fit and set
// `overflow`, so a cut frame is never sent as if it were whole.
struct NodeFrame {
  uint8_t bytes[kNodeFrameCapacity];
  uint32_t fill;
  bool overflow;
};

void frame_reset(NodeFrame& f);
// Raw pair DF <channel>: not escaped, it is a marker.
void frame_put_marker(NodeFrame& f, uint8_t channel);
// One token byte or data byte; 0xDF goes out as DF DE.
void frame_put_byte(NodeFrame& f, uint8_t b);
void frame_put_index(NodeFrame& f, int32_t n);
void frame_put_string(NodeFrame& f, const char* text);  // node name, up to 16 characters
void frame_put_text(NodeFrame& f, const char* text);    // string value, up to 64 characters
void frame_put_float(NodeFrame& f, float x);
void frame_put_small(NodeFrame& f, uint8_t v);  // small integer 0..63
// An integer in the shortest token that holds it: small, then 16-bit (D3), then 32-bit (D4).
void frame_put_int(NodeFrame& f, int32_t v);
// DF D1 DA "io" "in" <bank> <n> [<leaf>]; the leaf is left out when null or empty.
void frame_put_path(NodeFrame& f, const char* bank, int32_t n, const char* leaf);
// DF D1 DA, the start of every control-channel path.
void frame_begin_path(NodeFrame& f);

// The node name under which a bank word is sent ("BUS" goes as "$BUS" and so on).
const char* wire_bank_name(const char* bank);

// Receive-side un-escaper. Its state survives from one receive call to the next.
struct Unescaper {
  bool in_escape = false;
  void reset() { in_escape = false; }
  // Un-escapes `n` bytes of `in` into `out` (room for `cap` bytes). Returns the bytes written;
  // `*used` says how many input bytes were taken (less than n only when `out` filled up).
  size_t run(const uint8_t* in, size_t n, uint8_t* out, size_t cap, size_t* used);
};

// What the token table says about the bytes at p.
enum class TokenScan { kComplete, kNeedMore, kUnknown };

// Length of the token starting at p[0] (including a node item's value token, which may itself
// be a node item: walked iteratively, never recursively). `*len` is set when the result is
// kComplete; for kNeedMore it is set to the full length when the header says it already,
// else to 0.
TokenScan token_length(const uint8_t* p, size_t avail, size_t* len);

// A block's header: DF and a 16-bit length, or, when those two bytes are 0, DF 00 00 and a
// 32-bit length. False until enough bytes are there to tell; then `*header` is 3 or 7 and
// `*total` the header plus the payload (saturated far above any buffer).
bool block_header(const uint8_t* p, size_t avail, size_t* header, size_t* total);

// First numeric token in the bytes, walked token by token so nothing inside another token's
// payload is ever taken for a value. A 0xD6 token is skipped whole: the one float the driver
// reads is the gain, which answers 0xD5 in dB, and a raw float is no value in a node's unit.
// A float that is not finite is no value; an unknown or cut token ends the walk. `value` and
// `flag` may be null.
bool decode_value(const uint8_t* p, size_t n, double* value, uint8_t* flag);
// A string token at p[0]: the text, cut to cap - 1 and terminated.
bool decode_text(const uint8_t* p, size_t n, char* out, size_t cap);

inline uint32_t read_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t read_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

}  // namespace ks
