// Start, attach and stop with the fake desk and a fake host: threads started once and joined,
// the module re-armed after a clean stop, and a stuck thread that keeps the module mapped.
#include "bridge/lifecycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bridge/desk.h"
#include "bridge/driver_services.h"
#include "bridge/host.h"
#include "bridge/module_table.h"
#include "bridge/settings.h"
#include "bridge/value_writer.h"
#include "bridge/tests/support/framework_fixture.h"
#include "os/file.h"

namespace ks {
namespace {

std::atomic<int> g_watcher_runs{0};
std::atomic<int> g_discovery_runs{0};
std::atomic<int> g_watcher_alive{0};
std::atomic<bool> g_release{false};
std::atomic<int> g_close_calls{0};
std::atomic<int> g_close_unmap{-1};

void counting_watcher() {
  g_watcher_runs++;
  g_watcher_alive++;
  while (!wait_stop(5)) {}
  g_watcher_alive--;
}
void counting_discovery() {
  g_discovery_runs++;
  while (!wait_stop(5)) {}
}
// A watcher that does not listen to stop, then (once released) still uses what it always used.
void stuck_watcher() {
  g_watcher_runs++;
  g_watcher_alive++;
  while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  wait_stop(1);
  log_info("stuck watcher finally ends");
  g_watcher_alive--;
}
void record_close(bool unmap) {
  g_close_calls++;
  g_close_unmap = unmap ? 1 : 0;
}

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 2000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return f();
}

class Lifecycle : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    g_watcher_runs = 0;
    g_discovery_runs = 0;
    g_watcher_alive = 0;
    g_release = false;
    g_close_calls = 0;
    g_close_unmap = -1;
    // The entry installs the module's own hooks; these tests replace the thread bodies after it.
    table = console_module_entry(3, {"wing", &desk().desc, nullptr});
    framework_hooks().lv1_watcher_thread = counting_watcher;
    framework_hooks().discovery_thread = counting_discovery;
    framework_hooks().status_close = record_close;
    cfg = path_join(dir, "wing.cfg");
    use_host(cfg);
  }
  void TearDown() override {
    g_release = true;
    eventually([] { return g_watcher_alive.load() == 0; });
    FrameworkTest::TearDown();
  }
  std::string cfg;
  const ConsoleModuleTable* table = nullptr;
};

TEST_F(Lifecycle, EntryAnswersVersion3Only) {
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(console_module_entry(3, {"x32", &desk().desc, nullptr}), table)
      << "the same table every time";
  EXPECT_EQ(console_module_entry(2, {"wing", &desk().desc, nullptr}), nullptr);
  EXPECT_EQ(console_module_entry(4, {"wing", &desk().desc, nullptr}), nullptr);
  EXPECT_EQ(table->version, 3u);
  EXPECT_EQ(table->size, 104u);
  EXPECT_STREQ(table->type_name, "wing");
  EXPECT_STREQ(table->version_text, "3.2.0");
  for (auto op :
       {(void*)table->start, (void*)table->stop, (void*)table->attach, (void*)table->set_gain,
        (void*)table->set_phantom, (void*)table->has_preamp, (void*)table->gain_min,
        (void*)table->gain_max, (void*)table->gain_step, (void*)table->session_recall})
    EXPECT_NE(op, nullptr);
}

std::atomic<int> g_stopping_seen{-1};
void KS_ABI disconnect_noting_stop() { g_stopping_seen = driver_stopping() ? 1 : 0; }
uint32_t seven_refusals() { return 7; }

// The entry is where the module hands over its driver: the framework then reaches that record
// alone, reads the refusals beside it, and gives the driver the module log, `stuck_threads` and
// the stop flag.
TEST_F(Lifecycle, TheEntryHandsOverTheDriverAndGivesItTheFrameworksServices) {
  DeskDriver other = desk().desc;
  other.model_name = "Other Desk";
  other.disconnect = disconnect_noting_stop;
  g_stopping_seen = -1;
  use_desk_driver(nullptr, nullptr);
  set_driver_services(nullptr);
  EXPECT_EQ(console_module_entry(2, {"wing", &other, seven_refusals}), nullptr);
  EXPECT_EQ(desk_driver(), nullptr) << "a refused version hands nothing over";
  EXPECT_EQ(control_refusals(), 0u);
  driver_log_info("[desk] before the entry");

  ASSERT_EQ(console_module_entry(3, {"wing", &other, seven_refusals}), table);
  EXPECT_EQ(desk_driver(), &other);
  EXPECT_EQ(control_refusals(), 7u);
  ASSERT_EQ(table->start(host().host()), 1);
  EXPECT_TRUE(host().logged("[bridge] searching for a Other Desk ..."));

  driver_log_info("[desk] seen %d", 1);
  driver_log_detail("[desk] detail %d", 2);
  EXPECT_FALSE(host().logged("[desk] before the entry"));
  EXPECT_TRUE(host().logged("[desk] seen 1"));
  EXPECT_FALSE(host().logged("[desk] detail 2")) << "detail lines only with diag";
  settings().diag.store(true);
  driver_log_detail("[desk] detail %d", 3);
  EXPECT_TRUE(host().logged("[desk] detail 3"));
  EXPECT_FALSE(driver_stopping());

  driver_thread_stuck();
  EXPECT_EQ(stuck_threads(), 1u);
  EXPECT_FALSE(table->stop()) << "a driver thread that missed its wait keeps the module mapped";
  EXPECT_EQ(g_stopping_seen.load(), 1) << "the driver's stop sees the module stopping";
}

TEST_F(Lifecycle, AHostOfAnotherVersionIsRefusedAndNothingStarts) {
  ModuleHost other = *host().host();
  other.version = 2;
  EXPECT_EQ(table->start(&other), 0);
  EXPECT_EQ(table->start(nullptr), 0);
  ModuleHost short_host = *host().host();
  short_host.size = 40;
  EXPECT_EQ(table->start(&short_host), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_discovery_runs.load(), 0);
  EXPECT_FALSE(framework_started());
  EXPECT_TRUE(host().lines().empty());
}

TEST_F(Lifecycle, StartAttachStopRunsEachThreadOnceAndJoinsThem) {
  write_text(cfg, "bank=A\nwatch=8\nip=10.0.0.300\n");
  ASSERT_EQ(table->start(host().host()), 1);
  EXPECT_TRUE(host().logged("---- wing module 3.2.0 started by the loader ----"));
  EXPECT_TRUE(host().logged("[cfg] using " + cfg));
  EXPECT_TRUE(
      host().logged("[bridge] bad ip= in kestrune.cfg: 10.0.0.300 - ignored, searching instead"));
  EXPECT_TRUE(host().logged("[bridge] searching for a Fake Desk ..."));
  EXPECT_EQ(watch_count(), 8);
  EXPECT_TRUE(searching());
  ASSERT_TRUE(eventually([] { return g_discovery_runs.load() == 1; }));

  table->attach(&host().gain_object);
  EXPECT_EQ(lv1_context(), &host().gain_object);
  ASSERT_TRUE(eventually([] { return g_watcher_runs.load() == 1; }));
  start_lv1_watcher();  // discovery choosing a desk later starts nothing more
  table->attach(&host().gain_object);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_watcher_runs.load(), 1);

  desk().clear_calls();
  EXPECT_TRUE(table->stop());
  EXPECT_EQ(g_watcher_alive.load(), 0) << "stop returns after the threads ended";
  EXPECT_EQ(desk().calls(),
            (std::vector<std::string>{"set_event_callback null", "disconnect", "meters_stop"}));
  EXPECT_EQ(lv1_context(), nullptr);
  EXPECT_EQ(g_close_unmap.load(), 1);
  EXPECT_EQ(module_host(), nullptr) << "the host is let go at stop";
  auto lines = host().lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "---- shutting down: stopping threads ----");
  EXPECT_EQ(lines[lines.size() - 2], "---- threads stopped ----");
  EXPECT_EQ(lines.back(), "---- wing module stopped ----");
}

TEST_F(Lifecycle, ACleanStopReArmsAndTheNextStartReadsTheSettingsAgain) {
  write_text(cfg, "watch=8\n");
  ASSERT_EQ(table->start(host().host()), 1);
  mark_seeded(2);
  table->attach(&host().gain_object);
  ASSERT_TRUE(eventually([] { return g_watcher_runs.load() == 1; }));
  ASSERT_TRUE(table->stop());

  write_text(cfg, "watch=4\nip=10.0.0.8\n");
  host().clear();
  EXPECT_FALSE(is_seeded(2)) << "a restarted module waits for the desk's values again";
  ASSERT_EQ(table->start(host().host()), 1);
  EXPECT_EQ(watch_count(), 4);
  EXPECT_TRUE(host().logged("[bridge] ip=10.0.0.8: asking that address first (bank=LCL base=1)"));
  ASSERT_TRUE(eventually([] { return g_discovery_runs.load() == 2; }));
  table->attach(&host().gain_object);
  ASSERT_TRUE(eventually([] { return g_watcher_runs.load() == 2; }));
  EXPECT_TRUE(table->stop());
}

TEST_F(Lifecycle, AStuckThreadKeepsTheModuleMappedAndNothingItUsesIsFreed) {
  framework_hooks().lv1_watcher_thread = stuck_watcher;
  set_framework_join_ms(100);
  ASSERT_EQ(table->start(host().host()), 1);
  table->attach(&host().gain_object);
  ASSERT_TRUE(eventually([] { return g_watcher_runs.load() == 1; }));

  EXPECT_FALSE(table->stop());
  EXPECT_EQ(stuck_threads(), 1u);
  EXPECT_EQ(g_close_unmap.load(), 0) << "the status block stays mapped for the stuck thread";
  EXPECT_TRUE(host().logged("---- a thread did not come back; not re-arming ----"));
  EXPECT_TRUE(host().logged(
      "---- wing module stopped - a thread is still running, the loader keeps this module mapped ----"));

  // Later stops and starts do nothing more; the module's answers to LV1 still work.
  host().clear();
  EXPECT_FALSE(table->stop());
  EXPECT_EQ(table->start(host().host()), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_discovery_runs.load(), 1);
  EXPECT_FALSE(host().logged("searching for"));
  EXPECT_TRUE(table->has_preamp(0));

  // The stuck thread wakes up and still waits on the stop event and logs: no crash.
  g_release = true;
  ASSERT_TRUE(eventually([] { return g_watcher_alive.load() == 0; }));
  EXPECT_FALSE(table->stop());
  EXPECT_EQ(stuck_threads(), 1u) << "never reset";
}

TEST_F(Lifecycle, AGainMoveAfterStopDoesNotArmTheModule) {
  ASSERT_EQ(table->start(host().host()), 1);
  ASSERT_TRUE(table->stop());
  mark_seeded(2);  // a channel LV1 had already moved before the stop
  table->set_gain(2, 10.0);
  table->set_phantom(2, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(framework_started());
  EXPECT_EQ(g_discovery_runs.load(), 1);
}

TEST_F(Lifecycle, ADriverThreadThatMissesItsWaitMakesStopFalse) {
  desk().stick_on_disconnect(true);
  ASSERT_EQ(table->start(host().host()), 1);
  EXPECT_FALSE(table->stop());
  EXPECT_EQ(stuck_threads(), 1u);
  EXPECT_TRUE(host().logged("a thread is still running"));
}

// LV1's thread waits for the whole stop: the framework's threads and the driver's together get
// one budget. A driver whose own stop outlasts it counts as stuck and keeps the module mapped.
TEST_F(Lifecycle, TheWholeStopFitsOneBudgetAndADriverThatOutlastsItIsStuck) {
  set_framework_join_ms(300);
  desk().delay("disconnect", 2000);
  ASSERT_EQ(table->start(host().host()), 1);
  table->attach(&host().gain_object);
  ASSERT_TRUE(eventually([] { return g_watcher_runs.load() == 1; }));

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(table->stop());
  const auto waited = std::chrono::steady_clock::now() - t0;
  // The driver alone would have held the stop for 2 s.
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  EXPECT_EQ(stuck_threads(), 1u);
  EXPECT_EQ(g_close_unmap.load(), 0) << "the driver may still write to what it uses";
  EXPECT_TRUE(host().logged("---- the desk driver did not stop within 300 ms ----"));
  EXPECT_TRUE(host().logged("---- a thread did not come back; not re-arming ----"));
  EXPECT_TRUE(host().logged("a thread is still running, the loader keeps this module mapped"));

  // The driver's stop still ends, late, and the module stays stuck: no re-arming.
  ASSERT_TRUE(eventually([this] { return desk().calls_of("meters_stop").size() == 1; }));
  EXPECT_EQ(table->start(host().host()), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_discovery_runs.load(), 1);
  EXPECT_FALSE(table->stop());
}

TEST_F(Lifecycle, HasPreampCountsQueriesAndKeepsTheExtremes) {
  table->has_preamp(5);
  table->has_preamp(70);
  table->has_preamp(0xFFFFFFFFu);  // -1 as a signed channel
  CapabilityQueries q = capability_queries();
  EXPECT_EQ(q.count, 3u);
  EXPECT_EQ(q.lowest, -1);
  EXPECT_EQ(q.highest, 70);
  reset_capability_extremes();
  q = capability_queries();
  EXPECT_EQ(q.lowest, 0x7FFFFFFF);
  EXPECT_EQ(q.highest, -1);
  EXPECT_EQ(table->gain_min(3), 0.0);
  EXPECT_EQ(table->gain_max(3), 45.0);
  EXPECT_EQ(table->gain_step(64), 2.5);
}

TEST_F(Lifecycle, HostWrappersWithoutAHostOrWithEmptySlots) {
  set_module_host(nullptr);
  log_info("nobody hears this");
  EXPECT_EQ(host_get_mac(), nullptr);
  host_report(&host().gain_object, 1, 2.0, true, false, false, false);
  host_rebuild_strip(-1);
  EXPECT_EQ(host_config_path(), "");
  EXPECT_FALSE(host_live_gain_object());

  set_module_host(host().host());
  host().record().report_to_lv1 = nullptr;
  host().record().rebuild_strip = nullptr;
  host_report(&host().gain_object, 1, 2.0, true, false, false, false);
  host_rebuild_strip(3);
  EXPECT_TRUE(host().reports().empty());
  EXPECT_TRUE(host_live_gain_object());
  EXPECT_EQ(host_config_path(), cfg);
  EXPECT_EQ(host_status_suffix(), u"");

  // The missing MAC is logged once only.
  EXPECT_EQ(host_get_mac(), nullptr);
  EXPECT_EQ(host_get_mac(), nullptr);
  EXPECT_EQ(host().lines_with("[mac] LV1 has not given the device box a MAC yet").size(), 1u);
  host().has_mac = true;
  const uint8_t* mac = host_get_mac();
  ASSERT_NE(mac, nullptr);
  EXPECT_EQ(mac[5], 0xcc);
  EXPECT_EQ(mac_missing_count(), 2u);
}

TEST_F(Lifecycle, LogLinesAreCutAt1024BytesAndDetailOnlyWithDiag) {
  std::string big(3000, 'y');
  log_info("%s", big.c_str());
  ASSERT_EQ(host().lines().size(), 1u);
  EXPECT_EQ(host().lines()[0].size(), 1023u);
  log_detail("detail %d", 1);
  EXPECT_FALSE(host().logged("detail 1"));
  settings().diag.store(true);
  log_detail("detail %d", 2);
  EXPECT_TRUE(host().logged("detail 2"));
}

}  // namespace
}  // namespace ks
