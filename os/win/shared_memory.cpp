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

}  // namespace

bool SharedMemory::create(const std::string& name, size_t size) {
  close();
  if (name.empty() || size == 0) {
    error_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  uint64_t sz = size;
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(sz >> 32),
                                static_cast<DWORD>(sz), win::widen(name).c_str());
  if (!h) {
    error_ = GetLastError();
    return false;
  }
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* v = MapViewOfFile(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
  if (!v) {
    error_ = GetLastError();
    CloseHandle(h);
    return false;
  }
  if (region_size(v) < size) {  // an older, smaller block of the same name
    error_ = ERROR_INVALID_PARAMETER;
    UnmapViewOfFile(v);
    CloseHandle(h);
    return false;
  }
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
  void* v = MapViewOfFile(h, want, 0, 0, 0);
  if (!v) {
    error_ = GetLastError();
    CloseHandle(h);
    return false;
  }
  if (region_size(v) < size) {
    error_ = ERROR_INVALID_PARAMETER;
    UnmapViewOfFile(v);
    CloseHandle(h);
    return false;
  }
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
