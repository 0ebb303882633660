// Fellbrook end to end under Wine, with the simulated WING on loopback: the module, loaded as the
// loader loads it, finds the desk at its configured address, carries LV1's gain and 48 V moves to
// the desk's head amps and the desk's moves back to LV1, and stops cleanly.
// ks-test: lock=udp-2222,loader-block,wing-desk-loopback,status-block timeout=120
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/tests/support/module_dll_host.h"
#include "desk/wing/tests/support/wing_test_support.h"
#include "os/socket.h"
#include "sim/wing/discovery.h"
#include "sim/wing/wing_sim.h"

namespace ks {
namespace {

using sim::SimValue;
using test::eventually;

struct Report {
  int32_t ch;
  double db;
  uint32_t has_gain, on, has_48v;
};

std::mutex g_mu;
std::vector<Report> g_reports;
std::vector<std::string> g_lines;
GainObject g_live{};

void KS_ABI host_log(const char*, int32_t, const char* text) {
  std::lock_guard<std::mutex> g(g_mu);
  g_lines.push_back(text ? text : "");
}
GainObject* KS_ABI host_live() { return &g_live; }
void KS_ABI host_report(GainObject*, int32_t ch, double db, uint32_t has_gain, uint32_t on,
                        uint32_t has_48v, uint32_t) {
  std::lock_guard<std::mutex> g(g_mu);
  g_reports.push_back(Report{ch, db, has_gain, on, has_48v});
}
bool reported(int32_t ch, double db) {
  std::lock_guard<std::mutex> g(g_mu);
  for (const Report& r : g_reports)
    if (r.ch == ch && r.has_gain && std::abs(r.db - db) < 0.01) return true;
  return false;
}

bool reported_48v(int32_t ch) {
  std::lock_guard<std::mutex> g(g_mu);
  for (const Report& r : g_reports)
    if (r.ch == ch && r.has_48v && r.on) return true;
  return false;
}

bool logged(const char* part) {
  std::lock_guard<std::mutex> g(g_mu);
  for (const std::string& l : g_lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

double desk_number(const sim::WingSim& desk, const std::string& path) {
  SimValue v;
  return desk.get(path, &v) ? v.number : -1000.0;
}

TEST(FellbrookModule, LV1AndTheDeskStayInStep) {
  // Under Wine every datagram leaves from 127.0.0.1, so the desk lives there.
  sim::WingSim desk;
  ASSERT_TRUE(desk.start(kLoopback));
  sim::DiscoveryResponder answers;
  sim::DiscoveryBehaviour b;
  b.line = desk.identity_line();
  ASSERT_TRUE(answers.start(kLoopback, b));
  // Card channels 1..24 carry LCL 1..24 (the simulated patch); LV1's channel c is card channel c
  // + 1.
  desk.set("io/in/LCL/1/g", SimValue::of_float(24.0));

  module_dll::LoadedModule m;
  ASSERT_TRUE(m.load("Fellbrook.dll")) << m.lib.last_error();
  ASSERT_TRUE(m.prepare_host("wing", "wing.cfg",
                             "bank=LCL\nwatch=8\ncard=MOD\nresync=desk\nip=127.0.0.1\n", u"-wing"));
  m.host.log = host_log;
  m.host.live_gain_object = host_live;
  m.host.report_to_lv1 = host_report;
  ASSERT_TRUE(m.start_and_attach(&g_live));
  const ConsoleModuleTable* t = m.table;

  // The checks run apart so that a failed one still stops the module before it is unloaded.
  [&] {
    // Found at its address and connected; the desk's value of input 1 reaches LV1.
    ASSERT_TRUE(eventually([&] { return answers.questions() > 0; }, 15000));
    ASSERT_TRUE(eventually([&] { return desk.connections() >= 1; }, 15000));
    EXPECT_TRUE(eventually([&] { return reported(0, 24.0); }, 15000));
    ASSERT_TRUE(eventually([&] { return logged("[bridge] seeded"); }, 5000));

    // LV1 -> desk.
    t->set_gain(1, 20.0);
    EXPECT_TRUE(eventually([&] { return desk_number(desk, "io/in/LCL/2/g") == 20.0; }, 5000));
    t->set_phantom(2, 1);
    EXPECT_TRUE(eventually([&] { return desk_number(desk, "io/in/LCL/3/vph") == 1.0; }, 5000));

    // desk -> LV1.
    desk.set("io/in/LCL/4/g", SimValue::of_float(42.0));
    desk.set("io/in/LCL/5/vph", SimValue::of_flag(true));
    EXPECT_TRUE(eventually([&] { return reported(3, 42.0); }, 5000));
    EXPECT_TRUE(eventually([&] { return reported_48v(4); }, 5000));
  }();

  EXPECT_TRUE(t->stop());
  answers.stop();
  desk.stop();
  if (::testing::Test::HasFailure()) {
    std::lock_guard<std::mutex> g(g_mu);
    for (const std::string& l : g_lines) std::printf("%s\n", l.c_str());
  }
}

}  // namespace
}  // namespace ks
