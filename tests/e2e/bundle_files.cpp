#include "tests/e2e/bundle_files.h"

#include <windows.h>

namespace ks::e2e {

bool copy_into(const std::string& from, const std::string& to) {
  return CopyFileW(wide(windows_path(from)).c_str(), wide(to).c_str(), FALSE) != 0;
}

bool write_file(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr) && n == text.size();
  CloseHandle(h);
  return ok;
}

}  // namespace ks::e2e
