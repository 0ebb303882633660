#include "os/file.h"

#include <windows.h>

#include <atomic>

#include "os/win/wide.h"

namespace ks {

namespace {

uint64_t ft(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

bool attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& a) {
  return !path.empty() &&
         GetFileAttributesExW(win::widen(path).c_str(), GetFileExInfoStandard, &a) != 0;
}

// A reader holding the target open (the tray, a virus scanner) makes the replace fail for a
// moment; the new content must not be lost for that, so try again for up to half a second.
bool move_over(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    DWORD e = GetLastError();
    if (attempt >= 50 ||
        (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION))
      return false;
    Sleep(10);
  }
}

}  // namespace

char path_separator() { return '\\'; }

ReadStatus read_file(const std::string& path, size_t cap, std::string& out) {
  out.clear();
  HANDLE h = CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? ReadStatus::missing
                                                                  : ReadStatus::error;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) {
    CloseHandle(h);
    return ReadStatus::error;
  }
  if (static_cast<uint64_t>(size.QuadPart) > cap) {
    CloseHandle(h);
    return ReadStatus::too_large;
  }
  // Read to the end rather than trusting the size, and never keep more than the cap.
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      CloseHandle(h);
      out.clear();
      return ReadStatus::error;
    }
    if (got == 0) break;
    if (out.size() + got > cap) {
      CloseHandle(h);
      out.clear();
      return ReadStatus::too_large;
    }
    out.append(buf, got);
  }
  CloseHandle(h);
  return ReadStatus::ok;
}

bool write_file_replace(const std::string& path, const std::string& data) {
  static std::atomic<unsigned> seq{0};
  std::string tmp =
      path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(seq++);
  std::wstring wtmp = win::widen(tmp);
  HANDLE h = CreateFileW(wtmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t off = 0;
  while (ok && off < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - off, 1u << 20));
    DWORD wrote = 0;
    ok = WriteFile(h, data.data() + off, chunk, &wrote, nullptr) && wrote == chunk;
    off += wrote;
  }
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (ok) ok = move_over(wtmp, win::widen(path));
  if (!ok) DeleteFileW(wtmp.c_str());
  return ok;
}

bool file_exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  return attributes(path, a) && !(a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool dir_exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  return attributes(path, a) && (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_dirs(const std::string& path) {
  if (path.empty()) return false;
  if (dir_exists(path)) return true;
  size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) {
    std::string parent = path.substr(0, cut);
    // Stop at a drive root ("C:").
    if (!(parent.size() == 2 && parent[1] == ':') && !make_dirs(parent)) return false;
  }
  return CreateDirectoryW(win::widen(path).c_str(), nullptr) || dir_exists(path);
}

bool remove_file(const std::string& path) { return DeleteFileW(win::widen(path).c_str()) != 0; }

uint64_t last_write_time(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  return attributes(path, a) ? ft(a.ftLastWriteTime) : 0;
}

bool file_size(const std::string& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!attributes(path, a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  size = (uint64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  return true;
}

bool list_dir(const std::string& path, std::vector<DirEntry>& out) {
  out.clear();
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(win::widen(path_join(path, "*")).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = win::narrow(fd.cFileName);
    if (name == "." || name == "..") continue;
    DirEntry e;
    e.name = std::move(name);
    e.is_dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size = e.is_dir ? 0 : (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    e.write_time = ft(fd.ftLastWriteTime);
    out.push_back(std::move(e));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return true;
}

}  // namespace ks
