#include "crypto/held_file.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "os/win/wide.h"

namespace ks {

HeldFileStatus HeldFile::open_and_read(const std::string& path, size_t cap,
                                       std::vector<uint8_t>& out) {
  close();
  out.clear();
  // FILE_SHARE_READ only: a writer, a rename or a delete is refused while we hold it.
  HANDLE h = CreateFileW(win::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? HeldFileStatus::missing
                                                                  : HeldFileStatus::error;
  }
  LARGE_INTEGER size;
  HeldFileStatus st = HeldFileStatus::ok;
  if (!GetFileSizeEx(h, &size) || size.QuadPart < 0) {
    st = HeldFileStatus::error;
  } else if (size.QuadPart == 0) {
    st = HeldFileStatus::empty;
  } else if (uint64_t(size.QuadPart) > cap) {
    st = HeldFileStatus::too_large;
  } else {
    try {
      out.resize(size_t(size.QuadPart));
    } catch (const std::bad_alloc&) {
      st = HeldFileStatus::error;
    }
    size_t off = 0;
    while (st == HeldFileStatus::ok && off < out.size()) {
      DWORD want = DWORD(std::min<size_t>(out.size() - off, 1u << 20)), got = 0;
      if (!ReadFile(h, out.data() + off, want, &got, nullptr) || got == 0)
        st = HeldFileStatus::error;  // a short file is as bad as a failed read
      off += got;
    }
  }
  if (st != HeldFileStatus::ok) {
    CloseHandle(h);
    out.clear();
    return st;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  open_ = true;
  return st;
}

void HeldFile::close() {
  if (open_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  open_ = false;
  handle_ = 0;
}

}  // namespace ks
