// Bounded text helpers for values that come from files, the desk driver or shared memory.
// Every copy stops at the destination's size and always leaves a NUL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// printf-style format checks, the same on mingw-w64 (C99 stdio) and the host.
#define KS_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))

namespace ks {

// Copies src (at most cap - 1 bytes, stopping at a NUL) into dst[cap] and terminates it.
// Returns the number of bytes copied. cap 0 writes nothing; a null src copies nothing. The
// const char* form reads at most cap - 1 bytes of src, so src need not be terminated.
size_t copy_text(char* dst, size_t cap, std::string_view src);
size_t copy_text(char* dst, size_t cap, const char* src);

// Length of a buffer that may lack its NUL: never reads past cap bytes.
size_t bounded_len(const char* s, size_t cap);

// Forces a NUL at buf[cap - 1] (for buffers a driver filled) and returns buf.
char* terminate(char* buf, size_t cap);

char ascii_lower(char c);
bool iequals(std::string_view a, std::string_view b);
bool istarts_with(std::string_view s, std::string_view prefix);
bool icontains(std::string_view hay, std::string_view needle);
// For NUL-terminated texts a driver hands over: a null pointer equals only another null.
bool iequals(const char* a, const char* b);

// Blanks are space and tab.
std::string_view trim_blanks(std::string_view s);

// Decimal conversion in the manner of atoi: leading blanks, an optional sign, digits; stops at
// the first other character; no digits gives 0. The value saturates at the int32 range instead
// of overflowing.
int32_t parse_decimal(std::string_view s);

// Four groups of 1 to 3 digits, each at most 255, separated by dots, nothing else.
bool is_dotted_ipv4(std::string_view s);

// snprintf-like append into a fixed buffer; never overflows, always terminates.
// Returns false when the text did not fit whole (the buffer then holds what fitted).
bool append_text(char* buf, size_t cap, const char* fmt, ...) KS_PRINTF(3, 4);

}  // namespace ks
