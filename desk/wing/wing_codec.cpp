#include "desk/wing/wing_codec.h"

#include <cmath>
#include <cstring>

#include "bridge/text.h"

namespace ks {

namespace {

void put_raw(NodeFrame& f, uint8_t b) {
  if (f.fill < kNodeFrameCapacity) {
    f.bytes[f.fill++] = b;
  } else {
    f.overflow = true;
  }
}

}  // namespace

void frame_reset(NodeFrame& f) {
  f.fill = 0;
  f.overflow = false;
}

void frame_put_marker(NodeFrame& f, uint8_t channel) {
  if (f.fill + 2 > kNodeFrameCapacity) {
    f.overflow = true;
    return;
  }
  put_raw(f, kEscape);
  put_raw(f, channel);
}

void frame_put_byte(NodeFrame& f, uint8_t b) {
  if (b != kEscape) {
    put_raw(f, b);
    return;
  }
  // Both bytes of the escaped pair or neither: half a pair would change the next token.
  if (f.fill + 2 > kNodeFrameCapacity) {
    f.overflow = true;
    return;
  }
  put_raw(f, kEscape);
  put_raw(f, kEscapedData);
}

void frame_put_index(NodeFrame& f, int32_t n) {
  if (n >= 1 && n <= 64) {
    frame_put_byte(f, uint8_t(0x3F + n));
    return;
  }
  uint16_t v = uint16_t(n - 1);
  frame_put_byte(f, 0xD2);
  frame_put_byte(f, uint8_t(v >> 8));
  frame_put_byte(f, uint8_t(v));
}

void frame_put_string(NodeFrame& f, const char* text) {
  if (!text) return;
  size_t len = strnlen(text, 16);
  if (len == 0) return;
  frame_put_byte(f, uint8_t(0xBF + len));
  for (size_t i = 0; i < len; ++i) frame_put_byte(f, uint8_t(text[i]));
}

void frame_put_text(NodeFrame& f, const char* text) {
  size_t len = text ? strnlen(text, 64) : 0;
  if (len == 0) {
    frame_put_byte(f, 0xD0);
    return;
  }
  frame_put_byte(f, uint8_t(0x7F + len));
  for (size_t i = 0; i < len; ++i) frame_put_byte(f, uint8_t(text[i]));
}

void frame_put_float(NodeFrame& f, float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  frame_put_byte(f, kFloat);
  for (int shift = 24; shift >= 0; shift -= 8) frame_put_byte(f, uint8_t(bits >> shift));
}

void frame_put_small(NodeFrame& f, uint8_t v) { frame_put_byte(f, uint8_t(v & 0x3F)); }

void frame_put_int(NodeFrame& f, int32_t v) {
  if (v >= 0 && v <= 0x3F) {
    frame_put_byte(f, uint8_t(v));
  } else if (v >= -32768 && v <= 32767) {
    frame_put_byte(f, 0xD3);
    frame_put_byte(f, uint8_t(uint16_t(v) >> 8));
    frame_put_byte(f, uint8_t(v));
  } else {
    frame_put_byte(f, 0xD4);
    for (int shift = 24; shift >= 0; shift -= 8) frame_put_byte(f, uint8_t(uint32_t(v) >> shift));
  }
}

void frame_begin_path(NodeFrame& f) {
  frame_put_marker(f, kControlChannel);
  frame_put_byte(f, kRoot);
}

const char* wire_bank_name(const char* bank) {
  static const char* const renamed[][2] = {
      {"BUS", "$BUS"}, {"MAIN", "$MAIN"}, {"MTX", "$MTX"}, {"SEND", "$SEND"}, {"MON", "$MON"}};
  if (!bank) return "";
  for (const auto& r : renamed)
    if (iequals(bank, r[0])) return r[1];
  return bank;
}

void frame_put_path(NodeFrame& f, const char* bank, int32_t n, const char* leaf) {
  frame_begin_path(f);
  frame_put_string(f, "io");
  frame_put_string(f, "in");
  frame_put_string(f, wire_bank_name(bank));
  frame_put_index(f, n);
  if (leaf && *leaf) frame_put_string(f, leaf);
}

size_t Unescaper::run(const uint8_t* in, size_t n, uint8_t* out, size_t cap, size_t* used) {
  size_t o = 0, i = 0;
  for (; i < n; ++i) {
    uint8_t b = in[i];
    if (!in_escape) {
      if (b == kEscape) {
        in_escape = true;
        continue;
      }
      if (o >= cap) break;
      out[o++] = b;
      continue;
    }
    if (b == kEscape) {  // DF DF: one data byte, still escaping
      if (o >= cap) break;
      out[o++] = kEscape;
    } else if (b == kEscapedData) {
      if (o >= cap) break;
      out[o++] = kEscape;
      in_escape = false;
    } else if (b >= 0xD0 && b <= 0xDD) {  // channel marker: dropped
      in_escape = false;
    } else {
      if (o + 2 > cap) break;
      out[o++] = kEscape;
      out[o++] = b;
      in_escape = false;
    }
  }
  if (used) *used = i;
  return o;
}

namespace {

// Length of one token that is not a node item; 0 when unknown. `need` is how many bytes must
// be present to know the length.
size_t simple_length(const uint8_t* p, size_t avail, size_t* need) {
  uint8_t b = p[0];
  *need = 1;
  if (b < 0x80) return 1;
  if (b < 0xC0) return 1 + size_t(b - 0x7F);
  if (b < 0xD0) return 1 + size_t(b - 0xBF);
  switch (b) {
    case 0xD0:
    case 0xD8:
    case 0xDA:
    case 0xDB:
    case 0xDC:
    case 0xDD:
    case 0xDE: return 1;
    case 0xD1: *need = 2; return avail < 2 ? SIZE_MAX : size_t(p[1]) + 3;
    case 0xD2:
    case 0xD3: return 3;
    case 0xD4:
    case 0xD5:
    case 0xD6: return 5;
    case 0xD9: return 2;
    case 0xDF: {
      size_t header = 0, total = 0;
      *need = avail >= 3 && read_be16(p + 1) == 0 ? 7 : 3;
      return block_header(p, avail, &header, &total) ? total : SIZE_MAX;
    }
    default: return 0;  // E0..FF
  }
}

}  // namespace

bool block_header(const uint8_t* p, size_t avail, size_t* header, size_t* total) {
  if (avail < 3) return false;
  uint16_t short_len = read_be16(p + 1);
  if (short_len != 0) {
    *header = 3;
    *total = 3 + size_t(short_len);
    return true;
  }
  if (avail < 7) return false;
  uint64_t t = 7 + uint64_t(read_be32(p + 3));
  *header = 7;
  // SIZE_MAX is the "length not known yet" mark of the token table.
  *total = t >= uint64_t(SIZE_MAX) ? SIZE_MAX - 1 : size_t(t);
  return true;
}

TokenScan token_length(const uint8_t* p, size_t avail, size_t* len) {
  *len = 0;
  size_t off = 0;
  // A node item's value may be another node item; walk the chain without recursion.
  while (true) {
    if (off >= avail) return TokenScan::kNeedMore;
    if (p[off] != kNodeItem) break;
    off += 5;
  }
  size_t need = 0;
  size_t tl = simple_length(p + off, avail - off, &need);
  if (tl == 0) return TokenScan::kUnknown;
  if (tl == SIZE_MAX) return TokenScan::kNeedMore;
  *len = off + tl;
  return *len <= avail ? TokenScan::kComplete : TokenScan::kNeedMore;
}

bool decode_value(const uint8_t* p, size_t n, double* value, uint8_t* flag) {
  size_t i = 0;
  while (i < n) {
    size_t len = 0;
    if (token_length(p + i, n - i, &len) != TokenScan::kComplete) return false;
    uint8_t b = p[i];
    double v;
    if (b == kFloat) {
      uint32_t bits = read_be32(p + i + 1);
      float x;
      std::memcpy(&x, &bits, 4);
      if (!std::isfinite(x)) return false;
      v = x;
    } else if (b == 0xD4) {
      v = double(int32_t(read_be32(p + i + 1)));
    } else if (b == 0xD3) {
      v = double(int16_t(read_be16(p + i + 1)));
    } else if (b <= 0x3F) {
      v = b;
    } else {
      i += len;  // a whole token that is no number here
      continue;
    }
    if (value) *value = v;
    if (flag) *flag = (b <= 0x01) ? uint8_t(v == 1.0) : (b <= 0x3F ? 1 : uint8_t(v != 0.0));
    return true;
  }
  return false;
}

bool decode_text(const uint8_t* p, size_t n, char* out, size_t cap) {
  if (!out || cap == 0 || n == 0) return false;
  size_t start, len;
  uint8_t b = p[0];
  if (b == 0xD0) {
    start = 1;
    len = 0;
  } else if (b >= 0x80 && b <= 0xBF) {
    start = 1;
    len = size_t(b - 0x7F);
  } else if (b == 0xD1) {
    if (n < 2) return false;
    start = 2;
    len = size_t(p[1]) + 1;
  } else {
    return false;
  }
  if (start + len > n) return false;
  size_t take = len < cap - 1 ? len : cap - 1;
  std::memcpy(out, p + start, take);
  out[take] = 0;
  return true;
}

}  // namespace ks
