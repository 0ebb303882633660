// Brannock end to end under Wine, with the simulated X32 on loopback: the module finds the desk
// at its configured address, reads its head amps, carries LV1's gain and 48 V moves to the desk
// and the desk's moves back, re-reads after a scene load, and stops cleanly.
// ks-test: lock=udp10023 timeout=120
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/gain_object.h"
#include "shared/module_table.h"
#include "sim/x32/x32_sim.h"

namespace ks {
namespace {

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
bool KS_ABI host_mac(uint8_t*) { return false; }
IoBoxListener* KS_ABI host_listener() { return nullptr; }
void KS_ABI host_report(GainObject*, int32_t ch, double db, uint32_t has_gain, uint32_t on, uint32_t has_48v,
                        uint32_t) {
  std::lock_guard<std::mutex> g(g_mu);
  g_reports.push_back({ch, db, has_gain, on, has_48v});
}
void KS_ABI host_rebuild(int32_t) {}

bool eventually(const std::function<bool()>& ready, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool reported(int32_t ch, double db) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& r : g_reports)
    if (r.ch == ch && r.has_gain && std::abs(r.db - db) < 0.01) return true;
  return false;
}

bool logged(const char* part) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& l : g_lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

bool reported_48v(int32_t ch) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& r : g_reports)
    if (r.ch == ch && r.has_48v && r.on) return true;
  return false;
}

std::string beside_this_test(const char* file) {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::string path = utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
  return path.substr(0, path.find_last_of('\\') + 1) + file;
}

TEST(BrannockModule, LV1AndTheDeskStayInStep) {
  sim::X32Sim desk;
  sim::X32Sim::Options o;
  o.address = "127.0.0.1";
  ASSERT_TRUE(desk.start(o));
  desk.put("/headamp/000/gain", sim::osc_f(0.5f));  // +24 dB

  Library lib;
  ASSERT_TRUE(lib.load(beside_this_test("Brannock.dll"))) << lib.last_error();
  auto entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
  ASSERT_NE(entry, nullptr);
  const ConsoleModuleTable* t = entry(kModuleApiVersion);
  ASSERT_NE(t, nullptr);

  std::u16string cfg = utf8_to_utf16(path_join(temp_dir(), "x32.cfg"));
  ASSERT_TRUE(write_file_replace(utf16_to_utf8(cfg), "bank=AN\nwatch=8\ncard=CRD\nresync=desk\nip=127.0.0.1\n"));
  ModuleHost host{};
  host.version = kModuleApiVersion;
  host.size = kModuleHostSize;
  host.ctx = "x32";
  host.config_path = cfg.c_str();
  host.status_suffix = u"-x32";
  host.log = host_log;
  host.live_gain_object = host_live;
  host.get_mac = host_mac;
  host.lv1_listener = host_listener;
  host.report_to_lv1 = host_report;
  host.rebuild_strip = host_rebuild;
  ASSERT_EQ(t->start(&host), 1);
  t->attach(&g_live);

  // Found at its address and subscribed; the desk's value of channel 1 reaches LV1.
  ASSERT_TRUE(eventually([&] { return !desk.subscribers().empty(); }, 15000));
  ASSERT_TRUE(eventually([&] { return reported(0, 24.0); }, 15000));
  ASSERT_TRUE(eventually([&] { return logged("[bridge] seeded"); }, 5000));

  // LV1 -> desk.
  t->set_gain(1, 20.0);
  EXPECT_TRUE(eventually([&] { return std::abs(desk.headamp_gain(1) - 32.0f / 72.0f) < 1e-6; }, 5000));
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
