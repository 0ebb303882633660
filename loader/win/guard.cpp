// The page-map readability checks.
#include "loader/win/guard.h"

#include <windows.h>

namespace ks {

namespace {

bool region_readable(const MEMORY_BASIC_INFORMATION& mbi) {
  if (mbi.State != MEM_COMMIT) return false;
  if (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
  return (mbi.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

bool is_readable(const void* p, size_t n) {
  if (!p) return false;
  auto at = reinterpret_cast<uintptr_t>(p);
  if (n == 0) return true;
  if (at + n < at) return false;
  const uintptr_t end = at + n;
  while (at < end) {
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof mbi) == 0) return false;
    if (!region_readable(mbi)) return false;
    at = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  }
  return true;
}

ptrdiff_t readable_length(const char* s, size_t cap) {
  if (!s) return -1;
  auto at = reinterpret_cast<uintptr_t>(s);
  size_t seen = 0;
  while (seen < cap) {
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof mbi) == 0) return -1;
    if (!region_readable(mbi)) return -1;
    const uintptr_t region_end = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    for (; at < region_end && seen < cap; ++at, ++seen) {
      if (*reinterpret_cast<const char*>(at) == 0) return static_cast<ptrdiff_t>(seen);
    }
  }
  return -1;
}

}  // namespace ks
