// Latency of the X32/M32 link against the simulated desk on loopback, beside a raw loopback
// datagram in the same run:
//   raw loopback      one 28-byte datagram from one UDP socket to another
//   LV1 -> desk       send_gain (what LV1's gain move ends in) until the desk has stored it
//   desk -> LV1       a change at the desk until the driver's event callback has it
//   idle CPU          the process's CPU time while connected and idle, per minute
// Benchmark, not a test: tools/netns-run build/native/desk/x32/x32_latency_bench
//                    (or tools/netns-run tools/wine-run
//                    build/windows/desk/x32/x32_latency_bench.exe)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "desk/x32/bench/bench_kit.h"
#include "sim/x32/x32_sim.h"

using namespace ks;
namespace {

constexpr int kRounds = 2000;

bench::Stamp g_stamp;
std::atomic<int> g_expect_n{0};

void KS_ABI on_event(const char*, int32_t n, const char* kind, double, uint8_t, const void*) {
  if (kind[0] == 'g' && kind[1] == 0 && n == g_expect_n) g_stamp.signal();
}

}  // namespace

int main() {
  std::string desk = "127.0.0.1";
  sim::X32Sim sim;
  sim::X32Sim::Options o;
  o.address = desk;
  if (!sim.start(o)) {
    std::fprintf(stderr, "cannot start the simulated desk on %s:10023\n", desk.c_str());
    return 1;
  }

  bench::raw_loopback(kRounds);

  x32_set_event_callback(on_event);
  if (!x32_connect(desk.c_str())) return 1;
  for (int i = 0; i < 200 && !x32_link_alive(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  sim.wait_for([&] { return !sim.subscribers().empty(); }, 3000);

  sim.set_observer([](const std::string& address) {
    if (address == "/headamp/040/gain") g_stamp.signal();
  });
  bench::time_rounds("LV1 -> desk", g_stamp, kRounds,
                     [](int i) { x32_send_gain("A", 9, double(i % 72) - 12); });
  sim.set_observer(nullptr);

  g_expect_n = 12;  // AN 12 is head amp 11
  bench::time_rounds("desk -> LV1", g_stamp, kRounds, [&](int i) {
    sim.desk_change("/headamp/011/gain", sim::osc_f(float(i % 145) / 144.0f));
  });

  // Idle: connected, nothing changing; the poll thread's renewals and the desk's answers only.
  bench::idle_cpu(20, "simulated desk in the same process");
  x32_set_event_callback(nullptr);
  x32_disconnect();
  sim.stop();
  return 0;
}
