// The real file system of the Windows build. A reparse point (junction, symbolic link) is never
// entered: a walk reports it as a link and a tree delete removes the link itself.
#include <windows.h>

#include "os/file.h"
#include "os/win/wide.h"
#include "tray/services/fs_ops.h"

namespace ks::tray {
namespace {

using win::narrow;
using win::widen;

PathKind kind_of_attrs(DWORD a) {
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::link;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::dir : PathKind::file;
}

PathKind kind_of(const std::string& p) {
  DWORD a = GetFileAttributesW(widen(p).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME
               ? PathKind::none
               : PathKind::error;
  }
  return kind_of_attrs(a);
}

bool remove_one(const std::string& p, PathKind k) {
  std::wstring w = widen(p);
  DWORD a = GetFileAttributesW(w.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(w.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  bool folder = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  if (k == PathKind::link)
    return folder ? RemoveDirectoryW(w.c_str()) != 0 : DeleteFileW(w.c_str()) != 0;
  return k == PathKind::dir ? RemoveDirectoryW(w.c_str()) != 0 : DeleteFileW(w.c_str()) != 0;
}

class WinFileSystem final : public FileSystem {
public:
  bool make_dirs(const std::string& path) override { return ks::make_dirs(path); }
  bool copy_file(const std::string& from, const std::string& to) override {
    return CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE) != 0;
  }
  bool move(const std::string& from, const std::string& to) override {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
  }
  bool remove_tree(const std::string& path) override {
    PathKind k = kind_of(path);
    if (k == PathKind::none) return true;
    if (k == PathKind::error) return false;
    bool ok = true;
    if (k == PathKind::dir) {
      std::vector<FsEntry> entries;
      if (!list(path, entries)) return false;
      for (const FsEntry& e : entries) ok = remove_tree(join(path, e.name)) && ok;
    }
    return remove_one(path, k) && ok;
  }
  PathKind kind(const std::string& path) override { return kind_of(path); }
  bool read(const std::string& path, size_t cap, std::string& out) override {
    out.clear();
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[65536];
    bool ok = true;
    while (out.size() < cap) {
      DWORD want = static_cast<DWORD>(std::min(sizeof buf, cap - out.size())), got = 0;
      if (!ReadFile(h, buf, want, &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      out.append(buf, got);
    }
    CloseHandle(h);
    return ok;
  }
  bool write(const std::string& path, const std::string& data) override {
    return write_file_replace(path, data);
  }
  bool list(const std::string& path, std::vector<FsEntry>& out) override {
    out.clear();
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(widen(join(path, "*")).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    do {
      std::string name = narrow(fd.cFileName);
      if (name == "." || name == "..") continue;
      out.push_back({std::move(name), kind_of_attrs(fd.dwFileAttributes)});
    } while (FindNextFileW(h, &fd));
    DWORD e = GetLastError();
    FindClose(h);
    return e == ERROR_NO_MORE_FILES;
  }
};

}  // namespace

FileSystem& real_file_system() {
  static WinFileSystem fs;
  return fs;
}

}  // namespace ks::tray
