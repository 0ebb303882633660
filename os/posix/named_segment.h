// Named kernel objects natively: a POSIX shared-memory segment per name, whose first page holds
// a reference count so the last closer removes the name, as Windows does with its objects.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ks::posix {

constexpr size_t kSegmentHeader = 4096;

struct SegmentHeader {
  std::atomic<uint32_t> ready;  // set by the creator once the payload is initialised
  std::atomic<uint32_t> refs;
  uint64_t payload_size;
};

struct NamedSegment {
  SegmentHeader* header = nullptr;
  std::string os_name;
  int error = 0;
  bool existed = false;
};

enum class OpenMode { create_or_open, open_only };

// Maps the header page of the segment `kind`/`name`. On creation the payload (`payload_size`
// bytes after the header) is zero and `init` (may be null) runs on it before others may use it.
// Opening an existing segment waits briefly for its creator to finish.
bool segment_open(const char* kind, const std::string& name, size_t payload_size, OpenMode mode,
                  void (*init)(void* payload, void* ctx), void* ctx, NamedSegment& out, int& fd);
void segment_close(NamedSegment& seg);

}  // namespace ks::posix
