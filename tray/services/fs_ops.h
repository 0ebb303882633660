// The file-system operations the installer and the removal use, behind one interface, so that
// every step can be made to fail in a test. Paths are UTF-8. Tree walks and tree deletes never
// follow a reparse point (junction, symbolic link): a link is removed as a link, never entered.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ks::tray {

enum class PathKind { none, file, dir, link, error };

struct FsEntry {
  std::string name;
  PathKind kind = PathKind::none;
};

class FileSystem {
public:
  virtual ~FileSystem() = default;
  // Creates the folder and its parents; true when it exists afterwards.
  virtual bool make_dirs(const std::string& path) = 0;
  // Copies a file, replacing the target.
  virtual bool copy_file(const std::string& from, const std::string& to) = 0;
  // Renames a file or folder, replacing a file target (a folder target makes it fail).
  virtual bool move(const std::string& from, const std::string& to) = 0;
  // Deletes a file, a link or a folder with what it holds. A missing path is success.
  virtual bool remove_tree(const std::string& path) = 0;
  virtual PathKind kind(const std::string& path) = 0;
  // Whole file, at most `cap` bytes (a larger file reads as its first `cap` bytes).
  virtual bool read(const std::string& path, size_t cap, std::string& out) = 0;
  // Writes the file whole (beside and moved into place).
  virtual bool write(const std::string& path, const std::string& data) = 0;
  // Entries of a folder without "." and "..". False when it cannot be read.
  virtual bool list(const std::string& path, std::vector<FsEntry>& out) = 0;
};

// The machine's own file system.
FileSystem& real_file_system();

// Helpers over the interface.
inline bool exists(FileSystem& fs, const std::string& p) {
  PathKind k = fs.kind(p);
  return k == PathKind::file || k == PathKind::dir || k == PathKind::link;
}
inline bool is_file(FileSystem& fs, const std::string& p) { return fs.kind(p) == PathKind::file; }
inline bool is_dir(FileSystem& fs, const std::string& p) { return fs.kind(p) == PathKind::dir; }

// Joins with the platform's separator.
std::string join(const std::string& a, const std::string& b);

}  // namespace ks::tray
