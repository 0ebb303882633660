#include "desk/x32/osc.h"

#include <cstring>

namespace ks {

namespace {

size_t pad4(size_t n) { return (n + 3) & ~size_t(3); }

uint32_t read_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void write_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Position of the first NUL in [from, length), or length when there is none.
size_t find_nul(const uint8_t* data, size_t from, size_t length) {
  const void* p = from < length ? std::memchr(data + from, 0, length - from) : nullptr;
  return p ? size_t(static_cast<const uint8_t*>(p) - data) : length;
}

// Address, NUL padding and the type tag opener: the common head of every message we send.
// Returns the bytes written (type tag padded as for `tags`), or 0 when it does not fit.
size_t put_head(const char* address, const char* tags, uint8_t* out, size_t cap) {
  if (!address || address[0] != '/') return 0;
  size_t a = std::strlen(address);
  size_t t = std::strlen(tags);
  size_t need = pad4(a + 1) + pad4(t + 1);
  if (a > 95 || need > cap) return 0;
  std::memset(out, 0, need);
  std::memcpy(out, address, a);
  std::memcpy(out + pad4(a + 1), tags, t);
  return need;
}

}  // namespace

const char* osc_error_text(OscError e) {
  switch (e) {
    case OscError::ok: return "ok";
    case OscError::empty: return "empty datagram";
    case OscError::unaligned: return "size not a multiple of 4";
    case OscError::no_address: return "no address";
    case OscError::address_unterminated: return "address not terminated";
    case OscError::address_too_long: return "address too long";
    case OscError::tags_unterminated: return "type tags not terminated";
    case OscError::tags_too_long: return "type tags too long";
    case OscError::arg_truncated: return "number argument cut short";
    case OscError::string_unterminated: return "string argument not terminated";
    case OscError::blob_truncated: return "blob without its size";
    case OscError::blob_too_large: return "blob larger than the datagram";
  }
  return "unknown error";
}

OscError osc_parse(const uint8_t* data, size_t length, OscMessage* msg) {
  std::memset(msg, 0, sizeof *msg);
  if (!data || length == 0) return OscError::empty;
  if (length % 4 != 0) return OscError::unaligned;
  if (data[0] != '/') return OscError::no_address;

  size_t end = find_nul(data, 0, length);
  if (end == length)
    return end >= sizeof msg->address ? OscError::address_too_long : OscError::address_unterminated;
  if (end >= sizeof msg->address) return OscError::address_too_long;
  std::memcpy(msg->address, data, end);

  size_t pos = pad4(end + 1);
  if (pos >= length || data[pos] != ',') return OscError::ok;  // a message without arguments

  size_t tags_end = find_nul(data, pos, length);
  if (tags_end == length) return OscError::tags_unterminated;
  size_t ntags = tags_end - pos;
  if (ntags >= sizeof msg->type_tags) return OscError::tags_too_long;
  std::memcpy(msg->type_tags, data + pos, ntags);
  const char* tags = msg->type_tags;

  pos = pad4(tags_end + 1);
  for (size_t i = 1; i < ntags; i++) {
    char tag = tags[i];
    double value = 0;
    switch (tag) {
      case 'i':
      case 'f': {
        if (length - pos < 4) return OscError::arg_truncated;
        uint32_t bits = read_be32(data + pos);
        if (tag == 'i') {
          value = double(int32_t(bits));
        } else {
          float f;
          std::memcpy(&f, &bits, sizeof f);
          value = double(f);
        }
        pos += 4;
        break;
      }
      case 's': {
        size_t s_end = find_nul(data, pos, length);
        if (s_end == length) return OscError::string_unterminated;
        if (msg->string_count < kOscMaxStrings && msg->arg_count < kOscMaxArgs) {
          char* slot = msg->strings[msg->string_count++];
          size_t n = s_end - pos;
          if (n > sizeof msg->strings[0] - 1) n = sizeof msg->strings[0] - 1;
          std::memcpy(slot, data + pos, n);
        }
        pos = pad4(s_end + 1);
        break;
      }
      case 'b': {
        if (length - pos < 4) return OscError::blob_truncated;
        uint32_t size = read_be32(data + pos);
        pos += 4;
        // Both counts are multiples of 4, so the padded blob fits whenever the blob does.
        if (size > length - pos) return OscError::blob_too_large;
        pos += pad4(size);
        break;
      }
      default: return OscError::ok;  // unknown size: keep what was read before it
    }
    if (msg->arg_count < kOscMaxArgs) {
      msg->arg_tag[msg->arg_count] = tag;
      msg->arg_value[msg->arg_count] = value;
      msg->arg_count++;
    }
  }
  return OscError::ok;
}

bool osc_first_number(const OscMessage& msg, double* value, char* tag) {
  if (msg.arg_count < 1 || (msg.arg_tag[0] != 'f' && msg.arg_tag[0] != 'i')) return false;
  *value = msg.arg_value[0];
  if (tag) *tag = msg.arg_tag[0];
  return true;
}

size_t osc_encode_query(const char* address, uint8_t* out, size_t cap) {
  if (cap > kOscMaxQuery) cap = kOscMaxQuery;
  return put_head(address, ",", out, cap);
}

size_t osc_encode_float(const char* address, float value, uint8_t* out, size_t cap) {
  size_t n = put_head(address, ",f", out, cap);
  if (n == 0 || cap - n < 4) return 0;
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  write_be32(out + n, bits);
  return n + 4;
}

size_t osc_encode_int(const char* address, int32_t value, uint8_t* out, size_t cap) {
  size_t n = put_head(address, ",i", out, cap);
  if (n == 0 || cap - n < 4) return 0;
  write_be32(out + n, uint32_t(value));
  return n + 4;
}

}  // namespace ks
