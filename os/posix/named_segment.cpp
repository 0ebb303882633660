#include "os/posix/named_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace ks::posix {

namespace {

std::string os_name_of(const char* kind, const std::string& name) {
  std::string out = "/ks-" + std::to_string(getuid()) + "-" + kind + "-";
  for (char c : name) out += (c == '/' || c == '\\') ? '_' : c;
  return out;
}

void pause_briefly() {
  timespec ts{0, 1000000};
  nanosleep(&ts, nullptr);
}

}  // namespace

bool segment_open(const char* kind, const std::string& name, size_t payload_size, OpenMode mode,
                  void (*init)(void*, void*), void* ctx, NamedSegment& out, int& fd) {
  out = NamedSegment{};
  fd = -1;
  if (name.empty() || name.size() > 200) {
    out.error = EINVAL;
    return false;
  }
  out.os_name = os_name_of(kind, name);
  const size_t total = kSegmentHeader + payload_size;
  bool created = false;
  if (mode == OpenMode::create_or_open) {
    fd = shm_open(out.os_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      created = true;
      if (ftruncate(fd, static_cast<off_t>(total)) != 0) {
        out.error = errno;
        close(fd);
        shm_unlink(out.os_name.c_str());
        fd = -1;
        return false;
      }
    } else if (errno != EEXIST) {
      out.error = errno;
      return false;
    }
  }
  if (!created) {
    fd = shm_open(out.os_name.c_str(), O_RDWR, 0600);
    if (fd < 0) {
      out.error = errno;
      return false;
    }
    // The creator sizes the segment right after creating it; wait for that.
    struct stat st {};
    for (int i = 0; i < 1000; ++i) {
      if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= kSegmentHeader) break;
      pause_briefly();
    }
    if (static_cast<size_t>(st.st_size) < kSegmentHeader) {
      out.error = ETIMEDOUT;
      close(fd);
      fd = -1;
      return false;
    }
  }
  void* p = mmap(nullptr, kSegmentHeader, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    out.error = errno;
    close(fd);
    fd = -1;
    if (created) shm_unlink(out.os_name.c_str());
    return false;
  }
  out.header = static_cast<SegmentHeader*>(p);
  if (created) {
    out.header->payload_size = payload_size;
    out.header->refs.store(1);
    if (init) {
      void* payload = mmap(nullptr, payload_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                           static_cast<off_t>(kSegmentHeader));
      if (payload != MAP_FAILED) {
        init(payload, ctx);
        munmap(payload, payload_size);
      }
    }
    out.header->ready.store(1, std::memory_order_release);
    return true;
  }
  out.existed = true;
  for (int i = 0; i < 1000 && out.header->ready.load(std::memory_order_acquire) == 0; ++i)
    pause_briefly();
  if (out.header->ready.load(std::memory_order_acquire) == 0) {
    out.error = ETIMEDOUT;
    munmap(out.header, kSegmentHeader);
    out.header = nullptr;
    close(fd);
    fd = -1;
    return false;
  }
  // A closer may have dropped the count to zero and removed the name after we opened it; the
  // segment stays valid for us, just no longer findable by name.
  out.header->refs.fetch_add(1);
  return true;
}

void segment_close(NamedSegment& seg) {
  if (!seg.header) return;
  if (seg.header->refs.fetch_sub(1) == 1) shm_unlink(seg.os_name.c_str());
  munmap(seg.header, kSegmentHeader);
  seg = NamedSegment{};
}

}  // namespace ks::posix
