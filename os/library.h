// Loading a library by absolute path and finding its exports.
#pragma once

#include <cstdint>
#include <string>

namespace ks {

class Library {
public:
  Library() = default;
  ~Library();  // frees the library
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  Library(Library&& o) noexcept;
  Library& operator=(Library&& o) noexcept;

  // LoadLibraryExW with the altered search path, so the library's own dependencies are looked
  // for beside it. `path` is UTF-8 and absolute. On failure last_error() holds the system's code.
  bool load(const std::string& path);
  void* find(const char* export_name) const;
  void free();
  // Leaves the library loaded for good (modules whose threads may outlive a stop).
  void release();

  bool loaded() const { return h_ != nullptr; }
  void* handle() const { return h_; }
  uint32_t last_error() const { return error_; }

private:
  void* h_ = nullptr;
  uint32_t error_ = 0;
};

}  // namespace ks
