// Facts cached per poll tick, shared blocks live, settings fresh after a write.
#include <gtest/gtest.h>

#include "tray/ui/model/cached_sources.h"
#include "tray/ui/model/tests/support/fake_sources.h"

namespace ks::tray {
namespace {

TEST(PollCache, FileAndProcessFactsOncePerTickBlocksLive) {
  test::FakeSources live;
  live.running = true;
  live.uptime = 1000;
  live.installed[0] = live.on[0] = true;
  live.settings[0] = "session_recall=off\n";
  live.snap[0] = test::live_snapshot(true);
  PollCachedSources cached(live);
  DashboardState st;
  LinkAgeMemory ages;
  gather_dashboard_state(cached, st, ages);
  EXPECT_EQ(live.settings_reads, 1);
  EXPECT_EQ(st.session_recall[0], 0);

  // Within the tick: the facts stand, the status block and the clock move.
  live.running = false;
  live.settings[0] = "session_recall=on\n";
  live.snap[0].desk_answering = 0;
  live.now += 250;
  gather_dashboard_state(cached, st, ages);
  EXPECT_EQ(live.settings_reads, 1);
  EXPECT_EQ(st.lv1_running, 1);
  EXPECT_EQ(st.lv1_uptime_ms, 1250);  // the run time goes on between ticks
  EXPECT_EQ(st.session_recall[0], 0);
  EXPECT_EQ(st.snapshot[0].desk_answering, 0u);
  EXPECT_EQ(st.link_age_ms[0], 250u);

  cached.poll_tick();
  gather_dashboard_state(cached, st, ages);
  EXPECT_EQ(live.settings_reads, 2);
  EXPECT_EQ(st.lv1_running, 0);
  EXPECT_EQ(st.session_recall[0], 1);
}

TEST(PollCache, AWriteMakesThatConsolesSettingsStale) {
  test::FakeSources live;
  live.installed[0] = live.installed[1] = true;
  live.confirm_reply[0] = "WING-PP-1";
  PollCachedSources cached(live);
  DashboardState st;
  LinkAgeMemory ages;
  gather_dashboard_state(cached, st, ages);
  ASSERT_EQ(live.writes.size(), 1u);
  EXPECT_EQ(live.settings_reads, 2);
  live.confirm_reply[0].clear();
  gather_dashboard_state(cached, st, ages);
  EXPECT_EQ(live.settings_reads, 3);  // console 0 read again, console 1 from the cache
  // Out-of-range kinds are refused, not indexed.
  std::string text;
  bool on = true;
  EXPECT_FALSE(cached.read_settings(2, text));
  EXPECT_FALSE(cached.console_module_state(-1, on));
  EXPECT_FALSE(on);
}

}  // namespace
}  // namespace ks::tray
