// The burst detector and the reseed timer, with the time stepped by hand (across the wrap too).
#include "desk/x32/x32_rules.h"

#include <gtest/gtest.h>

namespace ks {
namespace {

class BurstRules : public ::testing::TestWithParam<Tick> {};

TEST_P(BurstRules, HundredFiftyPushesInOneWindowMakeABurst) {
  Tick t0 = GetParam();
  X32BurstDetector b;
  for (int i = 0; i < 149; i++) b.note_push(t0 + Tick(i * 3));
  EXPECT_FALSE(b.in_burst());
  b.note_push(t0 + 450);
  EXPECT_TRUE(b.in_burst());
  // It ends only after more than 700 ms without a push, and once.
  EXPECT_FALSE(b.take_end(t0 + 450 + 700));
  EXPECT_TRUE(b.take_end(t0 + 450 + 701));
  EXPECT_FALSE(b.take_end(t0 + 450 + 2000));
}

TEST_P(BurstRules, WindowRestartsAfterFiveHundredMs) {
  Tick t0 = GetParam();
  X32BurstDetector b;
  for (int i = 0; i < 100; i++) b.note_push(t0 + Tick(i));
  // 501 ms after the window began a new one starts: 100 + 100 pushes never make 150 in one.
  for (int i = 0; i < 100; i++) b.note_push(t0 + 501 + Tick(i));
  EXPECT_FALSE(b.in_burst());
  for (int i = 100; i < 150; i++) b.note_push(t0 + 501 + Tick(i));
  EXPECT_TRUE(b.in_burst());
}

TEST_P(BurstRules, PushesDuringTheQuietTimeKeepTheBurstOpen) {
  Tick t0 = GetParam();
  X32BurstDetector b;
  for (int i = 0; i < 150; i++) b.note_push(t0);
  b.note_push(t0 + 600);
  EXPECT_FALSE(b.take_end(t0 + 1000));
  EXPECT_TRUE(b.take_end(t0 + 1301));
}

TEST_P(BurstRules, ReseedAfterALocalWriteAndEveryTenSeconds) {
  Tick t0 = GetParam();
  X32ReseedTimer r;
  r.reset(t0);
  EXPECT_FALSE(r.take_due(t0 + 100));
  r.note_local_write(t0 + 200);
  EXPECT_FALSE(r.take_due(t0 + 200 + 799));
  // The write tick is stored as (now | 1), so it fires 800 or 801 ms after the write.
  EXPECT_TRUE(r.take_due(t0 + 200 + 802));
  EXPECT_FALSE(r.take_due(t0 + 200 + 900));  // the write tick was cleared
  // A later write moves the next one; without writes it comes 10 s after the last.
  EXPECT_FALSE(r.take_due(t0 + 1002 + 10000));
  EXPECT_TRUE(r.take_due(t0 + 1002 + 10001));
}

TEST_P(BurstRules, RepeatedWritesReseedOnlyWhenQuiet) {
  Tick t0 = GetParam();
  X32ReseedTimer r;
  r.reset(t0);
  for (int i = 0; i < 10; i++) {
    r.note_local_write(t0 + Tick(i * 100));
    EXPECT_FALSE(r.take_due(t0 + Tick(i * 100 + 50)));
  }
  EXPECT_TRUE(r.take_due(t0 + 900 + 802));
}

INSTANTIATE_TEST_SUITE_P(Ticks, BurstRules,
                         ::testing::Values(Tick(1000), Tick(0xFFFFFF00u), Tick(0xFFFFFFFFu)));

}  // namespace
}  // namespace ks
