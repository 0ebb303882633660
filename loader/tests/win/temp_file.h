// Reading the loader's files in the test's own temporary folder.
#pragma once

#include <windows.h>

#include <string>

#include "loader/win/loader_log.h"

namespace ks::test {

// The temporary folder, with its trailing separator.
inline std::string temp_dir() {
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, buf);
  return std::string(buf, n);
}

// The whole file, read while the loader may still hold it open; "" when missing. The lines
// queued so far are written first.
inline std::string read_file(const std::string& path) {
  log_flush();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  std::string out;
  if (h == INVALID_HANDLE_VALUE) return out;
  char chunk[65536];
  DWORD got;
  while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
  CloseHandle(h);
  return out;
}

inline std::string read_temp_file(const std::string& name) { return read_file(temp_dir() + name); }

}  // namespace ks::test
