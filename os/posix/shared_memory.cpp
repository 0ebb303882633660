#include "os/shared_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "os/posix/named_segment.h"

namespace ks {

namespace {

bool map_impl(const std::string& name, size_t size, posix::OpenMode mode,
              SharedMemory::Access access, void*& handle, void*& view, size_t& view_size,
              bool& existed, uint32_t& error) {
  if (size == 0) {
    error = EINVAL;
    return false;
  }
  auto* seg = new (std::nothrow) posix::NamedSegment;
  if (!seg) return false;
  int fd = -1;
  if (!posix::segment_open("shm", name, size, mode, nullptr, nullptr, *seg, fd)) {
    error = static_cast<uint32_t>(seg->error);
    delete seg;
    return false;
  }
  if (seg->header->payload_size < size) {
    error = EINVAL;
    close(fd);
    posix::segment_close(*seg);
    delete seg;
    return false;
  }
  int prot = access == SharedMemory::Access::read_only ? PROT_READ : PROT_READ | PROT_WRITE;
  void* p = mmap(nullptr, size, prot, MAP_SHARED, fd, static_cast<off_t>(posix::kSegmentHeader));
  int e = errno;
  close(fd);
  if (p == MAP_FAILED) {
    error = static_cast<uint32_t>(e);
    posix::segment_close(*seg);
    delete seg;
    return false;
  }
  handle = seg;
  view = p;
  view_size = size;
  existed = seg->existed;
  return true;
}

}  // namespace

bool SharedMemory::create(const std::string& name, size_t size) {
  close();
  if (!map_impl(name, size, posix::OpenMode::create_or_open, Access::read_write, handle_, view_,
                view_size_, existed_, error_))
    return false;
  data_ = view_;
  size_ = size;
  return true;
}

bool SharedMemory::open(const std::string& name, size_t size, Access access) {
  close();
  if (!map_impl(name, size, posix::OpenMode::open_only, access, handle_, view_, view_size_,
                existed_, error_))
    return false;
  data_ = view_;
  size_ = size;
  return true;
}

void SharedMemory::close() {
  if (view_) munmap(view_, view_size_);
  if (handle_) {
    auto* seg = static_cast<posix::NamedSegment*>(handle_);
    posix::segment_close(*seg);
    delete seg;
  }
  handle_ = view_ = data_ = nullptr;
  size_ = view_size_ = 0;
  existed_ = false;
}

}  // namespace ks
