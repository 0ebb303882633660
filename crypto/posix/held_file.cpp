// POSIX has no share modes: the file stays open, which is what the native tests need of it.
#include "crypto/held_file.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace ks {

HeldFileStatus HeldFile::open_and_read(const std::string& path, size_t cap,
                                       std::vector<uint8_t>& out) {
  close();
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? HeldFileStatus::missing : HeldFileStatus::error;
  struct stat st_buf;
  HeldFileStatus st = HeldFileStatus::ok;
  if (fstat(fd, &st_buf) != 0 || !S_ISREG(st_buf.st_mode)) {
    st = HeldFileStatus::error;
  } else if (st_buf.st_size == 0) {
    st = HeldFileStatus::empty;
  } else if (uint64_t(st_buf.st_size) > cap) {
    st = HeldFileStatus::too_large;
  } else {
    try {
      out.resize(size_t(st_buf.st_size));
    } catch (const std::bad_alloc&) {
      st = HeldFileStatus::error;
    }
    size_t off = 0;
    while (st == HeldFileStatus::ok && off < out.size()) {
      ssize_t got = ::read(fd, out.data() + off, out.size() - off);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0)
        st = HeldFileStatus::error;
      else
        off += size_t(got);
    }
  }
  if (st != HeldFileStatus::ok) {
    ::close(fd);
    out.clear();
    return st;
  }
  handle_ = fd;
  open_ = true;
  return st;
}

void HeldFile::close() {
  if (open_) ::close(int(handle_));
  open_ = false;
  handle_ = 0;
}

}  // namespace ks
