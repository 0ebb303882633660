// A file read whole and kept open, so that what was checked is what gets used: while a HeldFile
// holds it, others may read the file but not write, rename or delete it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ks {

enum class HeldFileStatus { ok, missing, empty, too_large, error };

class HeldFile {
public:
  HeldFile() = default;
  ~HeldFile() { close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens `path` (UTF-8) for reading, shared for reading only, and reads it whole into `out`
  // when it holds at least 1 and at most `cap` bytes. A larger or empty file is not read. On
  // anything but ok the file is closed again and `out` is empty.
  HeldFileStatus open_and_read(const std::string& path, size_t cap, std::vector<uint8_t>& out);
  void close();
  bool is_open() const { return open_; }

private:
  bool open_ = false;
  intptr_t handle_ = 0;  // HANDLE on Windows, a descriptor elsewhere
};

}  // namespace ks
