// The guard (os/guard.h) and readability checks for everything that comes from, or goes
// into, LV1's process memory. Windows only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/guard.h"

namespace ks {

// True when all n bytes at p are committed and readable now. Checks the page map instead of
// probing, so a bad pointer never raises a fault that the access-violation log would count.
bool is_readable(const void* p, size_t n);

// Length of the text at s when it is readable and ends within cap bytes; -1 otherwise (null,
// unreadable before its end, or no terminator among the first cap bytes).
ptrdiff_t readable_length(const char* s, size_t cap);

}  // namespace ks
