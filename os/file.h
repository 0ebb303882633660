// Files and folders. Paths are UTF-8; the Windows build converts them to wide strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ks {

enum class ReadStatus { ok, missing, too_large, error };

// Reads the whole file when it holds at most `cap` bytes; a larger file is not read at all.
ReadStatus read_file(const std::string& path, size_t cap, std::string& out);

// Writes `data` to a temporary file beside `path`, flushes it, then moves it over `path`
// (MoveFileExW with replace-existing). Whoever reads `path` sees the old file or the new one,
// never a part. The temporary is removed on failure.
bool write_file_replace(const std::string& path, const std::string& data);

bool file_exists(const std::string& path);  // a file, not a folder
bool dir_exists(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool make_dirs(const std::string& path);
bool remove_file(const std::string& path);

// Last write time in 100 ns units since 1601-01-01 UTC (FILETIME), 0 when unknown.
uint64_t last_write_time(const std::string& path);
bool file_size(const std::string& path, uint64_t& size);

struct DirEntry {
  std::string name;
  bool is_dir = false;
  uint64_t size = 0;
  uint64_t write_time = 0;  // as last_write_time
};
// Entries of a folder, without "." and "..", in no particular order. False when unreadable.
bool list_dir(const std::string& path, std::vector<DirEntry>& out);

// Joins with the platform's separator unless `a` already ends with one.
std::string path_join(const std::string& a, const std::string& b);
char path_separator();

}  // namespace ks
