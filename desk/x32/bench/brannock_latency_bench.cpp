// Latency through Brannock itself (framework and driver), as LV1 meets it, against the simulated
// X32 on loopback, beside a raw loopback datagram in the same run:
//   LV1 -> desk   the module table's set_gain (what the loader calls on LV1's thread) until the
//                 desk has stored the head-amp value
//   desk -> LV1   a change at the desk until the host's report-to-LV1 callback has it; this
//                 includes the LV1 watcher's pass (every 20 ms) that reports desk values
//   idle CPU      the process's CPU time per minute while connected and idle
// Benchmark, not a test:
//   tools/netns-run tools/wine-run build/windows/desk/x32/brannock_latency_bench.exe
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "desk/x32/tests/support/brannock_host.h"
#include "desk/x32/bench/bench_kit.h"
#include "sim/x32/x32_sim.h"

using namespace ks;
namespace {

bench::Stamp g_stamp;
std::atomic<double> g_expect_db{1e9};

}  // namespace

int main() {
  sim::X32Sim desk;
  sim::X32Sim::Options o;
  o.address = "127.0.0.1";
  if (!desk.start(o)) {
    std::fprintf(stderr, "cannot start the simulated desk on 127.0.0.1:10023\n");
    return 1;
  }

  bench::raw_loopback(2000);

  brannock_host::g_on_report = [](const brannock_host::Report& r) {
    if (r.ch == 1 && r.has_gain && std::abs(r.db - g_expect_db.load()) < 0.01) g_stamp.signal();
  };
  brannock_host::Module m;
  if (!m.load_and_start("bank=AN\nwatch=8\ncard=CRD\nresync=desk\nip=127.0.0.1\n")) {
    std::fprintf(stderr, "Brannock.dll did not start\n");
    return 1;
  }
  for (int i = 0; i < 1000 && !brannock_host::logged("[bridge] seeded"); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  desk.set_observer([](const std::string& address) {
    if (address == "/headamp/000/gain") g_stamp.signal();
  });
  bench::time_rounds("LV1 -> desk", g_stamp, 500,
                     [&](int i) { m.table->set_gain(0, i % 2 ? 10.0 : 20.0); });
  desk.set_observer(nullptr);

  bench::time_rounds("desk -> LV1", g_stamp, 200, [&](int i) {
    float f = float(i % 2 ? 0.25 : 0.5);  // +6 dB, +24 dB
    g_expect_db = f * 72.0 - 12.0;
    desk.desk_change("/headamp/001/gain", sim::osc_f(f));
  });

  bench::idle_cpu(20, "module and simulated desk in one process");
  m.table->stop();
  desk.stop();
  return 0;
}
