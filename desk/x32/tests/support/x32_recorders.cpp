#include "desk/x32/tests/support/x32_recorders.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "desk/x32/x32_link.h"

namespace ks::test {

namespace {
std::mutex g_mutex;
std::vector<RecordedEvent> g_events;

void KS_ABI on_event(const char* bank, int32_t n, const char* kind, double value, uint8_t flag,
                     const void*) {
  std::lock_guard<std::mutex> g(g_mutex);
  g_events.push_back(
      {std::chrono::steady_clock::now(), bank ? bank : "", n, kind ? kind : "", value, flag});
}
}  // namespace

X32Recorder::X32Recorder() {
  clear();
  x32_set_event_callback(on_event);
}

X32Recorder::~X32Recorder() { x32_set_event_callback(nullptr); }

std::vector<RecordedEvent> X32Recorder::events() {
  std::lock_guard<std::mutex> g(g_mutex);
  return g_events;
}

void X32Recorder::clear() {
  services_.clear();
  std::lock_guard<std::mutex> g(g_mutex);
  g_events.clear();
}

int X32Recorder::count_kind(const std::string& kind) {
  std::lock_guard<std::mutex> g(g_mutex);
  int n = 0;
  for (auto& e : g_events) n += e.kind == kind;
  return n;
}

bool X32Recorder::wait_for(const std::function<bool()>& ready, int timeout_ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace ks::test

namespace ks::test {

std::string x32_test_address(int n) {
#ifdef _WIN32
  (void)n;
  return "127.0.0.1";
#else
  return "127.0.0." + std::to_string(n);
#endif
}

bool x32_several_desks() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

}  // namespace ks::test
