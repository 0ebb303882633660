// Latency of the X32/M32 link against the simulated desk on loopback, beside a raw loopback
// datagram in the same run:
//   raw loopback      one 28-byte datagram from one UDP socket to another
//   LV1 -> desk       send_gain (what LV1's gain move ends in) until the desk has stored it
//   desk -> LV1       a change at the desk until the driver's event callback has it
//   idle CPU          the process's CPU time while connected and idle, per minute
// Benchmark, not a test: tools/netns-run build/native/desk/x32/x32_latency_bench
//                    (or tools/netns-run tools/wine-run build/windows/desk/x32/x32_latency_bench.exe)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "desk/x32/x32_driver.h"
#include "desk/x32/x32_link.h"
#include "os/socket.h"
#include "sim/x32/x32_sim.h"

using namespace ks;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 2000;

// One waiter, one signaller: the time a sample ends.
struct Stamp {
  std::mutex m;
  std::condition_variable cv;
  bool hit = false;
  SteadyClock::time_point at;
  void signal() {
    std::lock_guard<std::mutex> g(m);
    at = SteadyClock::now();
    hit = true;
    cv.notify_one();
  }
  bool wait(SteadyClock::time_point* t) {
    std::unique_lock<std::mutex> lk(m);
    bool ok = cv.wait_for(lk, std::chrono::milliseconds(500), [&] { return hit; });
    hit = false;
    *t = at;
    return ok;
  }
};

Stamp g_stamp;
std::atomic<int> g_expect_n{0};

void KS_ABI on_event(const char*, int32_t n, const char* kind, double, uint8_t, const void*) {
  if (kind[0] == 'g' && kind[1] == 0 && n == g_expect_n) g_stamp.signal();
}

void report(const char* what, std::vector<double>& us, int lost) {
  if (us.empty()) {
    std::printf("%-12s no samples (%d lost)\n", what, lost);
    return;
  }
  std::sort(us.begin(), us.end());
  auto at = [&](double q) { return us[size_t(q * double(us.size() - 1))]; };
  std::printf("%-12s n=%zu  median %.1f us  p90 %.1f us  p99 %.1f us  max %.1f us  lost %d\n", what, us.size(),
              at(0.5), at(0.9), at(0.99), us.back(), lost);
}

// User plus kernel time of this process so far, ms.
double cpu_ms() {
#ifdef _WIN32
  FILETIME c, e, k, u;
  GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
  auto ms = [](FILETIME f) { return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000.0; };
  return ms(k) + ms(u);
#else
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
#endif
}

double micros(SteadyClock::time_point a, SteadyClock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
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

  // Raw loopback: the floor under both directions.
  {
    Socket a = Socket::udp(), b = Socket::udp();
    a.bind({kLoopback, 0});
    b.bind({kLoopback, 0});
    Endpoint to = *b.local_endpoint();
    uint8_t buf[64] = {'/'};
    std::vector<double> us;
    int lost = 0;
    for (int i = 0; i < kRounds; i++) {
      auto t0 = SteadyClock::now();
      a.send_to(buf, 28, to);
      Endpoint from;
      if (b.recv_from(buf, sizeof buf, &from, 500) == 28) us.push_back(micros(t0, SteadyClock::now()));
      else lost++;
    }
    report("raw loopback", us, lost);
  }

  x32_set_event_callback(on_event);
  if (!x32_connect(desk.c_str())) return 1;
  for (int i = 0; i < 200 && !x32_link_alive(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  sim.wait_for([&] { return !sim.subscribers().empty(); }, 3000);

  // LV1 -> desk.
  {
    sim.set_observer([](const std::string& address) {
      if (address == "/headamp/040/gain") g_stamp.signal();
    });
    std::vector<double> us;
    int lost = 0;
    for (int i = 0; i < kRounds; i++) {
      auto t0 = SteadyClock::now();
      x32_send_gain("A", 9, double(i % 72) - 12);
      SteadyClock::time_point t1;
      if (g_stamp.wait(&t1)) us.push_back(micros(t0, t1));
      else lost++;
    }
    sim.set_observer(nullptr);
    report("LV1 -> desk", us, lost);
  }

  // desk -> LV1.
  {
    g_expect_n = 12;  // AN 12 is head amp 11
    std::vector<double> us;
    int lost = 0;
    for (int i = 0; i < kRounds; i++) {
      auto t0 = SteadyClock::now();
      sim.desk_change("/headamp/011/gain", sim::osc_f(float(i % 145) / 144.0f));
      SteadyClock::time_point t1;
      if (g_stamp.wait(&t1)) us.push_back(micros(t0, t1));
      else lost++;
    }
    report("desk -> LV1", us, lost);
  }
  // Idle: connected, nothing changing; the poll thread's renewals and the desk's answers only.
  {
    constexpr int kIdleSeconds = 20;
    double c0 = cpu_ms();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    double per_minute = (cpu_ms() - c0) * 60.0 / kIdleSeconds;
    std::printf("%-12s %.1f ms of CPU per minute (simulated desk in the same process)\n", "idle CPU", per_minute);
  }
  x32_set_event_callback(nullptr);
  x32_disconnect();
  sim.stop();
  return 0;
}
