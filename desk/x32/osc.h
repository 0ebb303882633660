// OSC 1.0 as the X32/M32 speaks it on UDP 10023: the messages this driver sends, and a bounded
// parser for everything it receives. Every datagram is hostile until the parser has checked it
// whole; a datagram that fails is dropped by the caller with the error's text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

constexpr int kOscMaxArgs = 8;
constexpr int kOscMaxStrings = 4;
constexpr size_t kOscMaxQuery = 128;  // a query longer than this is refused

// The parsed form of one datagram. Texts are always NUL-terminated.
struct OscMessage {
  char address[96];
  char type_tags[16];             // as received, beginning ','; empty when there are no arguments
  int32_t arg_count;              // at most kOscMaxArgs; later arguments are checked but not kept
  char arg_tag[kOscMaxArgs];      // the tag of each argument
  double arg_value[kOscMaxArgs];  // 'f' and 'i' values; 0 for the other tags
  char strings[kOscMaxStrings][64];  // the 's' arguments in order, each cut to 63 characters
  int32_t string_count;
};

enum class OscError : int32_t {
  ok = 0,
  empty,                 // no bytes at all
  unaligned,             // size not a multiple of 4
  no_address,            // does not begin with '/'
  address_unterminated,  // no NUL before the end
  address_too_long,      // 96 characters or more
  tags_unterminated,
  tags_too_long,        // 16 characters or more, ',' included
  arg_truncated,        // an 'i' or 'f' runs past the end
  string_unterminated,  // an 's' has no NUL before the end
  blob_truncated,       // a 'b' without its size field
  blob_too_large,       // a blob size beyond what is left of the datagram
};

const char* osc_error_text(OscError e);

// Parses one datagram into *msg (cleared first). Parsing stops with ok at a tag this driver does
// not know, since its size cannot be known; everything before it has been checked.
OscError osc_parse(const uint8_t* data, size_t length, OscMessage* msg);

// First numeric argument as a double ('f' or 'i'); false when the first argument is neither.
bool osc_first_number(const OscMessage& msg, double* value, char* tag = nullptr);

// Encoders: each writes one datagram into out and returns its length, or 0 when it does not fit.
size_t osc_encode_query(const char* address, uint8_t* out, size_t cap);  // no arguments
size_t osc_encode_float(const char* address, float value, uint8_t* out, size_t cap);
size_t osc_encode_int(const char* address, int32_t value, uint8_t* out, size_t cap);

}  // namespace ks
