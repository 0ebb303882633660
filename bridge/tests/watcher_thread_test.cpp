// The watcher as a thread on the real clock: it gives way to stop in the middle of a slow
// seeding sweep, so the module can be unmapped.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/session_recall.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/watcher.h"
#include "os/clock.h"

namespace ks {
namespace {

class WatcherThread : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    watcher_reset();
    status_block_reset();
    install_watcher_hooks();
    status_block_use_memory(block.get());
    write_text(dir + "/wing.cfg", "watch=8\n");
    use_host(dir + "/wing.cfg");
    for (std::uint32_t n = 1; n <= 8; ++n) {
      desk().set_input("LCL", n, FakeInput{});
      desk().route("MOD", n, "LCL", n);
    }
  }
  void TearDown() override {
    status_block_reset();
    session_recall_reset();
    watcher_reset();
    FrameworkTest::TearDown();
  }
  void take_desk() {
    DeskAnswer a{};
    std::strcpy(a.ip, "127.0.0.1");
    std::strcpy(a.id, "S0000");
    use_desk(a);
    set_desk_chosen(true);
    framework_attach(&host().gain_object);
  }
  std::unique_ptr<StatusBlock> block = std::make_unique<StatusBlock>();
};

TEST_F(WatcherThread, StopsBetweenChannelsOfASlowSweep) {
  desk().delay("read_gain", 400);  // eight channels would take 3.2 s, more than stop waits
  ASSERT_EQ(module_start(host().host()), 1);
  take_desk();
  Tick start = tick_now();
  while (desk().calls_of("read_gain").empty() && ticks_elapsed(tick_now(), start) < 10000)
    sleep_ms(5);
  ASSERT_FALSE(desk().calls_of("read_gain").empty());
  Tick asked = tick_now();
  EXPECT_TRUE(module_stop());
  EXPECT_LT(ticks_elapsed(tick_now(), asked), 2000u);
  EXPECT_LE(desk().calls_of("read_gain").size(), 2u);
  EXPECT_STREQ(block->status_text, "Module stopped");
}

TEST_F(WatcherThread, RunsPassesOnceADeskIsTaken) {
  ASSERT_EQ(module_start(host().host()), 1);
  take_desk();
  Tick start = tick_now();
  while (host().reports().size() < 16 && ticks_elapsed(tick_now(), start) < 10000) sleep_ms(5);
  EXPECT_GE(host().reports().size(), 16u);  // a gain and a 48 V for each of the 8 channels
  EXPECT_TRUE(host().logged("[bridge] Fake Desk -> LV1 watcher started (push-driven, ch 1..8)"));
  EXPECT_TRUE(module_stop());
}

}  // namespace
}  // namespace ks
