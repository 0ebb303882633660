#include "tray/services/tray_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  size_t len = std::strlen(text);
  if (n >= 0 && static_cast<size_t>(n) >= sizeof text) {
    // Cut at a character boundary, not inside a UTF-8 sequence.
    size_t start = len;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
      unsigned char lead = static_cast<unsigned char>(text[start - 1]);
      size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (len - (start - 1) < need) len = start - 1;
    }
  }
  // Texts from outside (server replies, file names) may hold line breaks: a call stays one line.
  for (size_t i = 0; i < len; ++i)
    if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';

  LocalTime t = local_time_now();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d  ", t.hour % 100, t.minute % 100,
                t.second % 100);
  std::string line = stamp;
  line.append(text, len);

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
