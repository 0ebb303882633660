// ks-test: lock=status-block
// Session values reach the console module through its table as the loader hands them over:
// held while the desk has not been read, applied once after the first seeding sweep.
#include <gtest/gtest.h>

#include "bridge/tests/win/watcher_module_host.h"
#include "os/clock.h"

namespace ks {
namespace {

TEST(SessionRecallModule, HeldUntilTheDeskIsReadThenAppliedOnce) {
  testing_module::TestModule m;
  ASSERT_TRUE(m.load_and_start());
  const ConsoleModuleTable* t = m.table;
  auto calls_of = m.calls_of;

  double gain[64];
  uint32_t phantom[64] = {}, preamp[64];
  for (int ch = 0; ch < 64; ++ch) {
    gain[ch] = 30.0 + ch;
    preamp[ch] = 1;
  }
  phantom[0] = 1;
  t->session_recall(gain, phantom, preamp);  // LV1 opens a session before any desk is found
  sleep_ms(200);
  EXPECT_EQ(calls_of("send_gain"), 0);

  m.take_desk();
  Tick start = tick_now();
  while (calls_of("send_gain LCL 8 37.00") == 0 && ticks_elapsed(tick_now(), start) < 10000)
    sleep_ms(10);
  sleep_ms(300);  // a few more passes: nothing is applied twice
  EXPECT_EQ(calls_of("send_gain LCL 1 30.00"), 1);
  EXPECT_EQ(calls_of("send_gain LCL 8 37.00"), 1);
  EXPECT_EQ(calls_of("send_phantom LCL 1 1"), 1);
  EXPECT_EQ(calls_of("send_gain LCL 9"), 0);  // beyond the watched channels
  EXPECT_TRUE(t->stop());
}

}  // namespace
}  // namespace ks
