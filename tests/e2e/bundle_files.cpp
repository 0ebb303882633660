#include "tests/e2e/bundle_files.h"

#include <windows.h>

namespace ks::e2e {

std::wstring wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}

std::string windows_path(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

bool copy_into(const std::string& from, const std::string& to) {
  return CopyFileW(wide(windows_path(from)).c_str(), wide(to).c_str(), FALSE) != 0;
}

bool write_file(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr) && n == text.size();
  CloseHandle(h);
  return ok;
}

}  // namespace ks::e2e
