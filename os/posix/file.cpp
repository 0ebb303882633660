#include "os/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace ks {

namespace {

// FILETIME counts 100 ns from 1601; Unix time counts from 1970.
constexpr uint64_t kEpochDelta = 116444736000000000ull;

uint64_t to_filetime(const struct timespec& t) {
  if (t.tv_sec < 0) return 0;
  return static_cast<uint64_t>(t.tv_sec) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100 +
         kEpochDelta;
}

bool write_fd_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

char path_separator() { return '/'; }

ReadStatus read_file(const std::string& path, size_t cap, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::missing : ReadStatus::error;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadStatus::error;
  }
  if (static_cast<uint64_t>(st.st_size) > cap) {
    ::close(fd);
    return ReadStatus::too_large;
  }
  // Read to the end rather than trusting the size, in case the file grows meanwhile, and never
  // keep more than the cap.
  char buf[65536];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      ::close(fd);
      out.clear();
      return ReadStatus::error;
    }
    if (r == 0) break;
    if (out.size() + static_cast<size_t>(r) > cap) {
      ::close(fd);
      out.clear();
      return ReadStatus::too_large;
    }
    out.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  return ReadStatus::ok;
}

bool write_file_replace(const std::string& path, const std::string& data) {
  static std::atomic<unsigned> seq{0};
  std::string tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(seq++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write_fd_all(fd, data.data(), data.size()) && fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dir_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_dirs(const std::string& path) {
  if (path.empty()) return false;
  if (dir_exists(path)) return true;
  size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0 && !make_dirs(path.substr(0, cut))) return false;
  return ::mkdir(path.c_str(), 0755) == 0 || dir_exists(path);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

uint64_t last_write_time(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return to_filetime(st.st_mtim);
}

bool file_size(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool list_dir(const std::string& path, std::vector<DirEntry>& out) {
  out.clear();
  DIR* d = ::opendir(path.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry de;
    de.name = name;
    struct stat st {};
    if (::stat(path_join(path, name).c_str(), &st) == 0) {
      de.is_dir = S_ISDIR(st.st_mode);
      de.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
      de.write_time = to_filetime(st.st_mtim);
    }
    out.push_back(std::move(de));
  }
  ::closedir(d);
  return true;
}

}  // namespace ks
