// Named shared memory ("Local\\KestruneStatus"...), mapped read-write or read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ks {

class SharedMemory {
public:
  enum class Access { read_only, read_write };

  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& o) noexcept;
  SharedMemory& operator=(SharedMemory&& o) noexcept;

  // Creates the block of `size` bytes (zero-filled when new) and maps all of it read-write.
  // When a block of that name already exists it is opened instead and existed() is true; an
  // existing block smaller than `size` fails.
  bool create(const std::string& name, size_t size);
  // Opens an existing block and maps its first `size` bytes. False when there is none, or when
  // it is smaller than `size`.
  bool open(const std::string& name, size_t size, Access access = Access::read_write);
  void close();

  bool valid() const { return data_ != nullptr; }
  bool existed() const { return existed_; }
  void* data() const { return data_; }
  size_t size() const { return size_; }
  // Last system error of a failed create/open (GetLastError or errno), for the log.
  uint32_t last_error() const { return error_; }

private:
  void* handle_ = nullptr;  // mapping handle on Windows; unused natively
  void* view_ = nullptr;    // what was mapped (natively includes a small header before data_)
  void* data_ = nullptr;
  size_t size_ = 0;
  size_t view_size_ = 0;
  bool existed_ = false;
  uint32_t error_ = 0;
};

}  // namespace ks
