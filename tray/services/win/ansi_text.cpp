#include "tray/services/ansi_text.h"

#include <windows.h>

#include "os/win/wide.h"

namespace ks::tray {

std::string ansi_to_utf8(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), w.data(), n);
  return win::narrow(w);
}

}  // namespace ks::tray
