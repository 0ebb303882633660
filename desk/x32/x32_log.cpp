#include "desk/x32/x32_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ks {

namespace {
std::atomic<X32LogSink> g_log{nullptr};
std::atomic<X32StuckSink> g_stuck{nullptr};

void emit(int level, const char* fmt, va_list ap) {
  X32LogSink sink = g_log.load();
  if (!sink) return;
  char line[1024];
  std::vsnprintf(line, sizeof line, fmt, ap);
  sink(level, line);
}
}  // namespace

void x32_set_log_sink(X32LogSink sink) { g_log = sink; }
void x32_set_stuck_sink(X32StuckSink sink) { g_stuck = sink; }

void x32_info(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(1, fmt, ap);
  va_end(ap);
}

void x32_detail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(2, fmt, ap);
  va_end(ap);
}

void x32_report_stuck_thread() {
  if (X32StuckSink s = g_stuck.load()) s();
}

}  // namespace ks
