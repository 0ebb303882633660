// UTF-8 paths and names to the wide strings of the Win32 calls, and back.
#pragma once

#include <string>
#include <string_view>

#include "os/utf.h"

namespace ks::win {

inline std::wstring widen(std::string_view s) {
  std::u16string w = utf8_to_utf16(s);
  return std::wstring(w.begin(), w.end());
}

inline std::string narrow(std::wstring_view w) {
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

}  // namespace ks::win
