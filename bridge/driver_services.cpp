#include "bridge/driver_services.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ks {

namespace {

std::atomic<const DriverServices*> g_services{nullptr};

void emit(int level, const char* format, va_list args) {
  const DriverServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->log) return;
  char line[1024];
  std::vsnprintf(line, sizeof line, format, args);
  s->log(level, line);
}

}  // namespace

void set_driver_services(const DriverServices* services) {
  g_services.store(services, std::memory_order_release);
}

void driver_log_info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(1, format, args);
  va_end(args);
}

void driver_log_detail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(2, format, args);
  va_end(args);
}

void driver_thread_stuck() {
  const DriverServices* s = g_services.load(std::memory_order_acquire);
  if (s && s->thread_stuck) s->thread_stuck();
}

bool driver_stopping() {
  const DriverServices* s = g_services.load(std::memory_order_acquire);
  return s && s->stopping && s->stopping();
}

}  // namespace ks
