#include "os/library.h"

namespace ks {

Library::~Library() { free(); }

Library::Library(Library&& o) noexcept : h_(o.h_), error_(o.error_) { o.h_ = nullptr; }

Library& Library::operator=(Library&& o) noexcept {
  if (this != &o) {
    free();
    h_ = o.h_;
    error_ = o.error_;
    o.h_ = nullptr;
  }
  return *this;
}

}  // namespace ks
