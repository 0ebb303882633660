#include "bridge/tests/support/driver_recorder.h"

#include <atomic>
#include <mutex>

#include "bridge/driver_services.h"

namespace ks::test {

namespace {

std::mutex g_m;
std::vector<std::string> g_lines;
std::atomic<uint32_t> g_stuck{0};
std::atomic<bool> g_stopping{false};

void log_line(int level, const char* text) {
  std::lock_guard<std::mutex> g(g_m);
  g_lines.push_back(std::string(level == 1 ? "I " : "D ") + text);
}
void thread_stuck() { ++g_stuck; }
bool stopping() { return g_stopping.load(); }

const DriverServices kServices = {log_line, thread_stuck, stopping};

}  // namespace

DriverRecorder::DriverRecorder() {
  clear();
  g_stuck = 0;
  g_stopping = false;
  set_driver_services(&kServices);
}

DriverRecorder::~DriverRecorder() { set_driver_services(nullptr); }

std::vector<std::string> DriverRecorder::lines() const {
  std::lock_guard<std::mutex> g(g_m);
  return g_lines;
}

int DriverRecorder::count_containing(const std::string& text) const {
  std::lock_guard<std::mutex> g(g_m);
  int n = 0;
  for (const std::string& l : g_lines) n += l.find(text) != std::string::npos;
  return n;
}

void DriverRecorder::clear() {
  std::lock_guard<std::mutex> g(g_m);
  g_lines.clear();
}

uint32_t DriverRecorder::stuck() { return g_stuck.load(); }

void DriverRecorder::set_stopping(bool on) { g_stopping = on; }

}  // namespace ks::test
