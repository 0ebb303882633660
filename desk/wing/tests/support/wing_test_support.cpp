#include "desk/wing/tests/support/wing_test_support.h"

#include <mutex>

#include "desk/wing/wing_link.h"

namespace ks::test {

namespace {

std::mutex g_m;
std::vector<PushRecord> g_pushes;

void on_push(const char* bank, int32_t index, const char* leaf, double value, uint8_t flag) {
  std::lock_guard<std::mutex> g(g_m);
  g_pushes.push_back(PushRecord{bank, leaf, index, value, flag});
}

}  // namespace

uint64_t now_ms() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
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
