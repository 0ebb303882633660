#include "os/shared_memory.h"

#include <utility>

namespace ks {

SharedMemory::~SharedMemory() { close(); }

SharedMemory::SharedMemory(SharedMemory&& o) noexcept { *this = std::move(o); }

SharedMemory& SharedMemory::operator=(SharedMemory&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    view_ = o.view_;
    data_ = o.data_;
    size_ = o.size_;
    view_size_ = o.view_size_;
    existed_ = o.existed_;
    error_ = o.error_;
    o.handle_ = o.view_ = o.data_ = nullptr;
    o.size_ = o.view_size_ = 0;
  }
  return *this;
}

}  // namespace ks
