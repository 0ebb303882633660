// What the X32 benchmarks share: a one-shot time stamp set by the callback that ends a sample,
// the figures line, timed rounds, the raw loopback floor and the process's CPU time.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "os/socket.h"

namespace ks::bench {

using SteadyClock = std::chrono::steady_clock;

inline double micros(SteadyClock::time_point a, SteadyClock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

// One waiter, one signaller: the moment a sample ends.
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
  bool wait(SteadyClock::time_point* t, int timeout_ms) {
    std::unique_lock<std::mutex> lk(m);
    bool ok = cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return hit; });
    hit = false;
    *t = at;
    return ok;
  }
};

inline void report(const char* what, std::vector<double>& us, int lost) {
  if (us.empty()) {
    std::printf("%-12s no samples (%d lost)\n", what, lost);
    return;
  }
  std::sort(us.begin(), us.end());
  auto at = [&](double q) { return us[size_t(q * double(us.size() - 1))]; };
  std::printf("%-12s n=%zu  median %.1f us  p90 %.1f us  p99 %.1f us  max %.1f us  lost %d\n", what,
              us.size(), at(0.5), at(0.9), at(0.99), us.back(), lost);
}

// `rounds` samples: each starts with act(i) and ends when the stamp is signalled (lost after 1 s).
template <class Act>
void time_rounds(const char* what, Stamp& stamp, int rounds, Act act) {
  std::vector<double> us;
  int lost = 0;
  for (int i = 0; i < rounds; i++) {
    auto t0 = SteadyClock::now();
    act(i);
    SteadyClock::time_point t1;
    if (stamp.wait(&t1, 1000))
      us.push_back(micros(t0, t1));
    else
      lost++;
  }
  report(what, us, lost);
}

// One 28-byte datagram (the size of a gain write) between two loopback sockets: the floor.
inline void raw_loopback(int rounds) {
  Socket a = Socket::udp(), b = Socket::udp();
  a.bind({kLoopback, 0});
  b.bind({kLoopback, 0});
  Endpoint to = *b.local_endpoint();
  uint8_t buf[64] = {'/'};
  std::vector<double> us;
  int lost = 0;
  for (int i = 0; i < rounds; i++) {
    auto t0 = SteadyClock::now();
    a.send_to(buf, 28, to);
    Endpoint from;
    if (b.recv_from(buf, sizeof buf, &from, 500) == 28) {
      us.push_back(micros(t0, SteadyClock::now()));
    } else {
      lost++;
    }
  }
  report("raw loopback", us, lost);
}

// User plus kernel time of this process so far, ms.
inline double cpu_ms() {
#ifdef _WIN32
  FILETIME c, e, k, u;
  GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
  auto ms = [](FILETIME f) {
    return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000.0;
  };
  return ms(k) + ms(u);
#else
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
#endif
}

// The process's CPU time per minute over `seconds` of idling; `note` says what the process holds.
inline void idle_cpu(int seconds, const char* note) {
  double c0 = cpu_ms();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  std::printf("%-12s %.1f ms of CPU per minute (%s)\n", "idle CPU",
              (cpu_ms() - c0) * 60.0 / seconds, note);
}

}  // namespace ks::bench
