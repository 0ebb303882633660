// The tick's decisions on a stepped clock, with every outside fact a scripted callback.
#include "tray/services/update_scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ks::tray {
namespace {

struct World {
  UpdaterState state;
  bool marker = false;
  bool lv1 = false;
  bool pending = false;
  bool thread_starts = true;
  bool thread_ends_at_once = false;
  bool placing_ends_tick = false;
  bool install_ok = true;
  std::string install_error = "load test failed";
  int checks = 0, places = 0, installs = 0;
  std::vector<std::string> log;

  SchedulerHooks hooks(bool auto_install = true) {
    SchedulerHooks h;
    h.auto_install = auto_install;
    h.ready_marker_present = [this] { return marker; };
    h.start_check = [this] {
      if (!thread_starts) return false;
      ++checks;
      if (thread_ends_at_once) state.busy = 0;
      return true;
    };
    h.lv1_running = [this] { return lv1; };
    h.install_pending = [this] { return pending; };
    h.restart_into_new_app = [this] {
      ++places;
      state.staged = 0;
      pending = true;  // placing writes the install-pending marker
      return placing_ends_tick;
    };
    h.install_loader = [this](std::string& e) {
      ++installs;
      e = install_error;
      return install_ok;
    };
    h.remove_install_pending = [this] { pending = false; };
    h.log = [this](const std::string& s) { log.push_back(s); };
    return h;
  }
};

TEST(UpdateScheduler, FirstCheckAfter30sThenEvery6h) {
  World w;
  auto h = w.hooks();
  const uint64_t t0 = 5000000;
  run_update_scheduler(w.state, t0, h);
  EXPECT_EQ(w.checks, 0);
  run_update_scheduler(w.state, t0 + 29999, h);
  EXPECT_EQ(w.checks, 0);
  run_update_scheduler(w.state, t0 + 30000, h);
  EXPECT_EQ(w.checks, 1);
  // The thread still runs: busy keeps a second one out even when the time has come.
  run_update_scheduler(w.state, t0 + 30000 + kCheckIntervalMs, h);
  EXPECT_EQ(w.checks, 1);
  w.state.busy = 0;  // the thread ended; the slot it missed is taken at the next tick
  const uint64_t t2 = t0 + 30000 + kCheckIntervalMs + 1000;
  run_update_scheduler(w.state, t2, h);
  EXPECT_EQ(w.checks, 2);
  EXPECT_EQ(w.state.next_check.load(), t2 + kCheckIntervalMs);
}

TEST(UpdateScheduler, FailedThreadStartReleasesBusyAndWaitsForTheNextSlot) {
  World w;
  w.thread_starts = false;
  auto h = w.hooks();
  run_update_scheduler(w.state, 1000, h);
  run_update_scheduler(w.state, 31000, h);
  EXPECT_EQ(w.state.busy.load(), 0u);
  EXPECT_EQ(w.state.next_check.load(), 31000 + kCheckIntervalMs);
  w.thread_starts = true;
  run_update_scheduler(w.state, 32000, h);
  EXPECT_EQ(w.checks, 0);
  run_update_scheduler(w.state, 31000 + kCheckIntervalMs, h);
  EXPECT_EQ(w.checks, 1);
}

TEST(UpdateScheduler, LeftoverMarkerIsPlacedOnTheFirstTickOnlyWhileLv1IsClosed) {
  World w;
  w.marker = true;
  w.lv1 = true;
  auto h = w.hooks();
  for (uint64_t t = 1000; t < 1000 + 3 * kInstallRetryMs; t += 60000)
    run_update_scheduler(w.state, t, h);
  EXPECT_EQ(w.state.staged.load(), 1u);
  EXPECT_EQ(w.places, 0) << "nothing is placed while LV1 runs";
  EXPECT_EQ(w.installs, 0);

  World fresh;
  fresh.marker = true;
  auto h2 = fresh.hooks();
  run_update_scheduler(fresh.state, 1000, h2);
  EXPECT_EQ(fresh.places, 1) << "placed on the first tick, before the first check";
  EXPECT_EQ(fresh.checks, 0);
  // Placing wrote the install-pending marker, and the loader is installed in the same tick.
  EXPECT_EQ(fresh.installs, 1);
  EXPECT_FALSE(fresh.pending);
  ASSERT_FALSE(fresh.log.empty());
  EXPECT_EQ(fresh.log.back(), "update: the new loader is installed");
}

TEST(UpdateScheduler, NothingIsPlacedWhileACheckRuns) {
  World w;
  w.state.staged = 1;
  w.state.next_check = 1;  // not the first tick
  w.state.busy = 1;
  auto h = w.hooks();
  run_update_scheduler(w.state, 50000, h);
  EXPECT_EQ(w.places, 0);
  w.state.busy = 0;
  w.state.next_check = 50000 + kCheckIntervalMs;
  run_update_scheduler(w.state, 50001, h);
  EXPECT_EQ(w.places, 1);
}

TEST(UpdateScheduler, FailedInstallKeepsTheMarkerAndRetriesAfter10Minutes) {
  World w;
  w.pending = true;
  w.install_ok = false;
  w.install_error = std::string(300, 'e');
  w.thread_ends_at_once = true;
  auto h = w.hooks();
  run_update_scheduler(w.state, 1000, h);
  EXPECT_EQ(w.installs, 1);
  EXPECT_TRUE(w.pending);
  ASSERT_EQ(w.log.size(), 1u);
  EXPECT_EQ(w.log[0], "update: installing the new loader failed: " + std::string(255, 'e') +
                          " - retrying in 10 min");
  run_update_scheduler(w.state, 1000 + kInstallRetryMs - 1, h);
  EXPECT_EQ(w.installs, 1);
  run_update_scheduler(w.state, 1000 + kInstallRetryMs, h);
  EXPECT_EQ(w.installs, 2);
}

TEST(UpdateScheduler, WithoutAutoInstallThePendingMarkerIsNoWork) {
  World w;
  w.pending = true;
  auto h = w.hooks(false);
  run_update_scheduler(w.state, 1000, h);
  EXPECT_EQ(w.installs, 0);
  EXPECT_EQ(w.state.loader_retry_at.load(), 0u) << "no work, no back-off";
}

TEST(UpdateScheduler, ARestartEndsTheTickBeforeTheInstall) {
  World w;
  w.marker = true;
  w.placing_ends_tick = true;
  auto h = w.hooks();
  run_update_scheduler(w.state, 1000, h);
  EXPECT_EQ(w.places, 1);
  EXPECT_EQ(w.installs, 0);
  EXPECT_EQ(w.state.loader_retry_at.load(), 1000 + kInstallRetryMs);
}

}  // namespace
}  // namespace ks::tray
