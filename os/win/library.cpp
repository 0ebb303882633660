#include "os/library.h"

#include <windows.h>

#include "os/win/wide.h"

namespace ks {

bool Library::load(const std::string& path) {
  free();
  if (path.empty()) {
    error_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  h_ = LoadLibraryExW(win::widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  error_ = h_ ? 0 : GetLastError();
  return h_ != nullptr;
}

void* Library::find(const char* export_name) const {
  if (!h_ || !export_name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(h_), export_name));
}

void Library::free() {
  if (h_) FreeLibrary(static_cast<HMODULE>(h_));
  h_ = nullptr;
}

void Library::release() { h_ = nullptr; }

}  // namespace ks
