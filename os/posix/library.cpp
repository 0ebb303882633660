#include "os/library.h"

#include <dlfcn.h>

namespace ks {

bool Library::load(const std::string& path) {
  free();
  if (path.empty() || path[0] != '/') {
    error_ = 2;
    return false;
  }
  h_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  error_ = h_ ? 0 : 1;
  return h_ != nullptr;
}

void* Library::find(const char* export_name) const {
  return h_ && export_name ? dlsym(h_, export_name) : nullptr;
}

void Library::free() {
  if (h_) dlclose(h_);
  h_ = nullptr;
}

void Library::release() { h_ = nullptr; }

}  // namespace ks
