#include "bridge/watcher_mailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ks {
namespace {

class Mailbox : public ::testing::Test {
protected:
  void SetUp() override { mailbox_reset_all(); }
  void TearDown() override { mailbox_reset_all(); }
};

TEST_F(Mailbox, TakeReturnsEachValidValueOnce) {
  std::uint32_t seen = 0;
  MailboxTake t;
  EXPECT_FALSE(mailbox_take(3, &seen, &t));
  mailbox_put_gain(3, 12.5);
  mailbox_put_phantom(3, true);
  mailbox_put_mute(3, kMuteByDollarMute, true);
  mailbox_put_own_gain(3, -2.0);
  ASSERT_TRUE(mailbox_take(3, &seen, &t));
  EXPECT_TRUE(t.has_gain);
  EXPECT_DOUBLE_EQ(t.gain, 12.5);
  EXPECT_TRUE(t.has_phantom && t.phantom);
  EXPECT_TRUE(t.has_mute && t.muted);
  EXPECT_EQ(t.mute_kind, kMuteByDollarMute);
  EXPECT_TRUE(t.has_own_gain);
  EXPECT_DOUBLE_EQ(t.own_gain, -2.0);
  EXPECT_FALSE(mailbox_take(3, &seen, &t));  // count unchanged

  mailbox_put_phantom(3, false);
  ASSERT_TRUE(mailbox_take(3, &seen, &t));
  EXPECT_FALSE(t.has_gain);  // the gain was taken before
  EXPECT_TRUE(t.has_phantom);
  EXPECT_FALSE(t.phantom);
}

TEST_F(Mailbox, ChannelsOutsideTheCardAreIgnored) {
  mailbox_put_gain(-1, 1.0);
  mailbox_put_gain(64, 1.0);
  mailbox_put_phantom(1000, true);
  std::uint32_t seen = 0;
  MailboxTake t;
  for (int ch = 0; ch < kMailboxChannels; ++ch) EXPECT_FALSE(mailbox_take(ch, &seen, &t));
  EXPECT_FALSE(mailbox_take(64, &seen, &t));
  EXPECT_FALSE(mailbox_take(-1, &seen, &t));
}

TEST_F(Mailbox, InvalidateKeepsCountButDropsValues) {
  mailbox_put_gain(0, 3.0);
  mailbox_invalidate_all();
  std::uint32_t seen = 0;
  MailboxTake t;
  ASSERT_TRUE(mailbox_take(0, &seen, &t));
  EXPECT_FALSE(t.has_gain);
}

// A writer on another thread and the watcher taking values: the last value written is always
// the last one seen (run under TSan to check the ordering).
TEST_F(Mailbox, ConcurrentWriterLastValueArrives) {
  constexpr int kWrites = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= kWrites; ++i) mailbox_put_gain(7, static_cast<double>(i));
    done.store(true);
  });
  std::uint32_t seen = 0;
  double last = 0;
  MailboxTake t;
  while (!done.load()) {
    if (mailbox_take(7, &seen, &t) && t.has_gain) {
      EXPECT_GE(t.gain, last);
      last = t.gain;
    }
  }
  writer.join();
  if (mailbox_take(7, &seen, &t) && t.has_gain) last = t.gain;
  EXPECT_DOUBLE_EQ(last, kWrites);
}

}  // namespace
}  // namespace ks
