#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "tray/services/tray_log_platform.h"

namespace ks::tray {

LocalTime local_time_now() {
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return {tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void append_log_line(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string data = line + "\n";
  ssize_t n = write(fd, data.data(), data.size());
  (void)n;
  close(fd);
}

}  // namespace ks::tray
