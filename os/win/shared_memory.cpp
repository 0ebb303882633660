#include "os/shared_memory.h"

#include <windows.h>

#include "os/win/wide.h"

namespace ks {

namespace {

// The size of an existing mapping is not asked of the system directly; the committed region of
// a view of it tells.
size_t region_size(void* view) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (VirtualQuery(view, &mbi, sizeof mbi) == 0) return 0;
  return mbi.RegionSize;
}

// Maps the whole of `h` and checks it holds at least `size` bytes (an older, smaller block of the
// same name does not). On failure the handle is closed and the reason left in `error`.
void* map_whole(HANDLE h, DWORD access, size_t size, uint32_t& error) {
  void* v = MapViewOfFile(h, access, 0, 0, 0);
  if (!v) {
    error = GetLastError();
    CloseHandle(h);
    return nullptr;
  }
  if (region_size(v) < size) {
    error = ERROR_INVALID_PARAMETER;
    UnmapViewOfFile(v);
    CloseHandle(h);
    return nullptr;
  }
  return v;
}

}  // namespace

bool SharedMemory::create(const std::string& name, size_t size) {
  close();
  if (name.empty() || size == 0) {
    error_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  uint64_t sz = size;
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                static_cast<DWORD>(sz >> 32), static_cast<DWORD>(sz),
                                win::widen(name).c_str());
  if (!h) {
    error_ = GetLastError();
    return false;
  }
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* v = map_whole(h, FILE_MAP_READ | FILE_MAP_WRITE, size, error_);
  if (!v) return false;
  handle_ = h;
  view_ = data_ = v;
  size_ = view_size_ = size;
  existed_ = existed;
  return true;
}

bool SharedMemory::open(const std::string& name, size_t size, Access access) {
  close();
  if (name.empty() || size == 0) {
    error_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  DWORD want = access == Access::read_only ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
  HANDLE h = OpenFileMappingW(want, FALSE, win::widen(name).c_str());
  if (!h) {
    error_ = GetLastError();
    return false;
  }
  void* v = map_whole(h, want, size, error_);
  if (!v) return false;
  handle_ = h;
  view_ = data_ = v;
  size_ = view_size_ = size;
  existed_ = true;
  return true;
}

void SharedMemory::close() {
  if (view_) UnmapViewOfFile(view_);
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = view_ = data_ = nullptr;
  size_ = view_size_ = 0;
  existed_ = false;
}

}  // namespace ks
