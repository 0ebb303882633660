// UTF-8 <-> UTF-16 through Windows' own converters, code page 65001 and no flags: the first call
// measures, the second converts. Broken input becomes U+FFFD as Windows makes it.
#include <windows.h>

#include <climits>

#include "tray/services/text_utils.h"

namespace ks::tray {

std::string to_utf8(std::u16string_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const wchar_t* w = reinterpret_cast<const wchar_t*>(wide.data());
  const int len = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, w, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(CP_UTF8, 0, w, len, out.data(), n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::u16string from_utf8(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int len = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, out.data(), n);
  return std::u16string(out.begin(), out.begin() + (n > 0 ? n : 0));
}

}  // namespace ks::tray
