// The real file system of the native build (the tests' temporary trees).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "os/file.h"
#include "tray/services/fs_ops.h"

namespace ks::tray {
namespace {

namespace fsys = std::filesystem;

PathKind kind_of(const std::string& p) {
  std::error_code ec;
  fsys::file_status st = fsys::symlink_status(p, ec);
  if (ec)
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory
               ? PathKind::none
               : PathKind::error;
  switch (st.type()) {
    case fsys::file_type::not_found: return PathKind::none;
    case fsys::file_type::symlink: return PathKind::link;
    case fsys::file_type::directory: return PathKind::dir;
    case fsys::file_type::regular: return PathKind::file;
    default: return PathKind::link;  // anything else is never entered nor read as ours
  }
}

class PosixFileSystem final : public FileSystem {
public:
  bool make_dirs(const std::string& path) override { return ks::make_dirs(path); }
  bool copy_file(const std::string& from, const std::string& to) override {
    if (kind_of(from) != PathKind::file) return false;
    std::error_code ec;
    fsys::copy_file(from, to, fsys::copy_options::overwrite_existing, ec);
    return !ec;
  }
  bool move(const std::string& from, const std::string& to) override {
    if (kind_of(to) == PathKind::dir) return false;  // as MoveFileExW: a folder is never replaced
    return std::rename(from.c_str(), to.c_str()) == 0;
  }
  bool remove_tree(const std::string& path) override {
    // remove_all does not follow symbolic links: a link is removed as a link.
    std::error_code ec;
    fsys::remove_all(path, ec);
    return !ec && kind_of(path) == PathKind::none;
  }
  PathKind kind(const std::string& path) override { return kind_of(path); }
  bool read(const std::string& path, size_t cap, std::string& out) override {
    out.clear();
    if (kind_of(path) != PathKind::file) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char buf[65536];
    while (out.size() < cap) {
      size_t want = std::min(sizeof buf, cap - out.size());
      in.read(buf, static_cast<std::streamsize>(want));
      std::streamsize got = in.gcount();
      if (got <= 0) break;
      out.append(buf, static_cast<size_t>(got));
    }
    return !in.bad();
  }
  bool write(const std::string& path, const std::string& data) override {
    return write_file_replace(path, data);
  }
  bool list(const std::string& path, std::vector<FsEntry>& out) override {
    out.clear();
    std::error_code ec;
    fsys::directory_iterator it(path, ec), end;
    if (ec) return false;
    for (; it != end; it.increment(ec)) {
      if (ec) return false;
      FsEntry e;
      e.name = it->path().filename().string();
      e.kind = kind_of(it->path().string());
      out.push_back(std::move(e));
    }
    return !ec;
  }
};

}  // namespace

FileSystem& real_file_system() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace ks::tray
