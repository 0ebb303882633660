#include "tray/services/tray_log.h"

#include <cstdarg>
#include <cstdio>

#include "os/lock.h"
#include "os/temp.h"
#include "tray/services/tray_log_platform.h"
#include "tray/services/version_info.inc"

namespace ks::tray {

namespace {

// Longest text of one line; a longer one is cut, never split over two lines.
constexpr size_t kMaxLine = 2048;

CriticalSection& log_lock() {
  static CriticalSection lock;
  return lock;
}

}  // namespace

std::string tray_log_path() { return temp_dir() + "kestrune-tray.log"; }

void tray_log(const char* format, ...) {
  char text[kMaxLine];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';

  LocalTime t = local_time_now();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d  ", t.hour % 100, t.minute % 100, t.second % 100);
  std::string line = stamp;
  line += text;

  // The UI thread and the update thread both log: one line at a time, opened, written whole and
  // closed under the lock, so lines never interleave.
  LockGuard<CriticalSection> hold(log_lock());
  append_log_line(tray_log_path(), line);
}

const std::string& version_text() {
  static const std::string text =
      std::string(KS_VERSION_STRING) + " " + KS_EDITION + " \xC2\xB7 " + KS_BUILD_ID;
  return text;
}

}  // namespace ks::tray
