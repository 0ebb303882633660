// Brannock end to end under Wine, with the simulated X32 on loopback: the module finds the desk
// at its configured address, reads its head amps, carries LV1's gain and 48 V moves to the desk
// and the desk's moves back, re-reads after a scene load, and stops cleanly.
// ks-test: lock=udp10023,status-block timeout=120
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "desk/x32/tests/support/brannock_host.h"
#include "sim/x32/x32_sim.h"

namespace ks {
namespace {

using namespace brannock_host;

bool eventually(const std::function<bool()>& ready, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(BrannockModule, LV1AndTheDeskStayInStep) {
  sim::X32Sim desk;
  sim::X32Sim::Options o;
  o.address = "127.0.0.1";
  ASSERT_TRUE(desk.start(o));
  desk.put("/headamp/000/gain", sim::osc_f(0.5f));  // +24 dB

  Module m;
  ASSERT_TRUE(m.load_and_start("bank=AN\nwatch=8\ncard=CRD\nresync=desk\nip=127.0.0.1\n"))
      << m.lib.last_error();
  const ConsoleModuleTable* t = m.table;

  // Found at its address and subscribed; the desk's value of channel 1 reaches LV1.
  ASSERT_TRUE(eventually([&] { return !desk.subscribers().empty(); }, 15000));
  ASSERT_TRUE(eventually([&] { return reported(0, 24.0); }, 15000));
  ASSERT_TRUE(eventually([&] { return logged("[bridge] seeded"); }, 5000));

  // LV1 -> desk.
  t->set_gain(1, 20.0);
  EXPECT_TRUE(
      eventually([&] { return std::abs(desk.headamp_gain(1) - 32.0f / 72.0f) < 1e-6; }, 5000));
  t->set_phantom(2, 1);
  EXPECT_TRUE(eventually([&] { return desk.headamp_phantom(2) == 1; }, 5000));

  // desk -> LV1.
  desk.desk_change("/headamp/003/gain", sim::osc_f(0.75f));
  desk.desk_change("/headamp/004/phantom", sim::osc_i(1));
  EXPECT_TRUE(eventually([&] { return reported(3, 42.0); }, 5000));
  EXPECT_TRUE(eventually([&] { return reported_48v(4); }, 5000));

  // A scene load: the module reads the patch and the head amps again.
  int before = desk.count("/config/routing/CARD/1-8");
  desk.scene_load(200, 300);
  EXPECT_TRUE(eventually([&] { return desk.count("/config/routing/CARD/1-8") > before; }, 5000));

  EXPECT_TRUE(t->stop());
  desk.stop();
  if (::testing::Test::HasFailure()) {
    std::lock_guard<std::mutex> g(g_mu);
    for (auto& l : g_lines) std::printf("%s\n", l.c_str());
  }
}

}  // namespace
}  // namespace ks
