#include "desk/wing/tests/support/wing_test_support.h"

#include <mutex>

#include "desk/wing/wing_link.h"
#include "desk/wing/wing_services.h"

namespace ks::test {

namespace {

std::mutex g_m;
std::vector<std::string> g_lines;
std::atomic<uint32_t> g_stuck{0};
std::vector<PushRecord> g_pushes;

void log_line(int level, const char* text) {
  std::lock_guard<std::mutex> g(g_m);
  g_lines.push_back(std::string(level == 1 ? "I " : "D ") + text);
}
void thread_stuck() { ++g_stuck; }
const DriverServices kServices = {log_line, thread_stuck};

void on_push(const char* bank, int32_t index, const char* leaf, double value, uint8_t flag) {
  std::lock_guard<std::mutex> g(g_m);
  g_pushes.push_back(PushRecord{bank, leaf, index, value, flag});
}

}  // namespace

uint64_t now_ms() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

DriverRecorder::DriverRecorder() {
  clear();
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

uint32_t DriverRecorder::stuck() const { return g_stuck.load(); }

void DriverRecorder::clear() {
  std::lock_guard<std::mutex> g(g_m);
  g_lines.clear();
  g_stuck = 0;
}

PushRecorder::PushRecorder() {
  {
    std::lock_guard<std::mutex> g(g_m);
    g_pushes.clear();
  }
  link_set_push_callback(on_push);
}
PushRecorder::~PushRecorder() { link_set_push_callback(nullptr); }

std::vector<PushRecord> PushRecorder::pushes() const {
  std::lock_guard<std::mutex> g(g_m);
  return g_pushes;
}

size_t PushRecorder::size() const {
  std::lock_guard<std::mutex> g(g_m);
  return g_pushes.size();
}

bool PushRecorder::wait_for(size_t n, uint32_t timeout_ms) const {
  return eventually([&] { return size() >= n; }, timeout_ms);
}

}  // namespace ks::test
