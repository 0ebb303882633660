// The ring of command records as the tray program fills it: selection order, copying hostile
// fields, and the order in which the answer becomes visible.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "bridge/control_ops.h"

namespace ks {
namespace {

void post(CommandRing& ring, int slot, std::uint32_t seq, std::uint32_t op,
          std::int32_t channel = 0) {
  ControlOp& r = ring.op[slot];
  std::memset(&r, 0, sizeof r);
  r.op = op;
  r.channel = channel;
  r.seq = seq;
}

TEST(ControlRing, LowestSeqFirstThenLowestSlotOnATie) {
  CommandRing ring{};
  EXPECT_EQ(pick_pending_slot(ring), -1);
  post(ring, 7, 7, 6);
  post(ring, 5, 5, 6);
  EXPECT_EQ(pick_pending_slot(ring), 5);
  write_control_reply(ring.op[5], 5, ControlResult::Done, "");
  EXPECT_EQ(pick_pending_slot(ring), 7);
  write_control_reply(ring.op[7], 7, ControlResult::Done, "");
  EXPECT_EQ(pick_pending_slot(ring), -1);

  post(ring, 3, 9, 6);  // a repeated seq in two slots: both are served, lowest slot first
  post(ring, 1, 9, 6);
  EXPECT_EQ(pick_pending_slot(ring), 1);
  write_control_reply(ring.op[1], 9, ControlResult::Done, "");
  EXPECT_EQ(pick_pending_slot(ring), 3);
}

TEST(ControlRing, AnsweredSlotIsNotServedAgain) {
  CommandRing ring{};
  post(ring, 2, 10, 6);
  write_control_reply(ring.op[2], 10, ControlResult::Refused, "no");
  ControlRequest req;
  EXPECT_FALSE(copy_request(ring, 2, &req));
  EXPECT_FALSE(copy_request(ring, -1, &req));
  EXPECT_FALSE(copy_request(ring, 8, &req));
}

TEST(ControlRing, CopiedGroupIsAlwaysTerminated) {
  CommandRing ring{};
  post(ring, 1, 1, 4);
  std::memcpy(ring.op[1].group, "ABCDEFGH", 8);  // all eight bytes, no NUL
  post(ring, 2, 2, 4);
  std::memcpy(ring.op[2].group, "LCL\0junk", 8);
  ring.op[2].value = std::numeric_limits<double>::quiet_NaN();
  ring.op[2].channel = -7;
  ring.op[2].arg2 = 0xFFFFFFFFu;

  post(ring, 3, 3, 4);
  std::memcpy(ring.op[3].group, "A\nip=1", 7);  // would smuggle a line into the settings file
  post(ring, 5, 5, 4);
  std::memcpy(ring.op[5].group, "A:3,B", 6);

  ControlRequest a, b, c, d;
  ASSERT_TRUE(copy_request(ring, 3, &c));
  EXPECT_STREQ(c.group, "");
  ASSERT_TRUE(copy_request(ring, 5, &d));
  EXPECT_STREQ(d.group, "");
  ASSERT_TRUE(copy_request(ring, 1, &a));
  EXPECT_STREQ(a.group, "");
  ASSERT_TRUE(copy_request(ring, 2, &b));
  EXPECT_STREQ(b.group, "LCL");
  EXPECT_EQ(b.seq, 2u);
  EXPECT_EQ(b.slot, 2);
  EXPECT_EQ(b.channel, -7);
  EXPECT_EQ(b.arg2, 0xFFFFFFFFu);
  EXPECT_TRUE(std::isnan(b.value));
}

TEST(ControlRing, ReplyIsBoundedAndClearsStaleText) {
  CommandRing ring{};
  post(ring, 4, 4, 6);
  std::memset(ring.op[4].reply, 'z', sizeof ring.op[4].reply);
  char longer[300];
  std::memset(longer, 'r', sizeof longer - 1);
  longer[sizeof longer - 1] = '\0';
  write_control_reply(ring.op[4], 4, ControlResult::Refused, longer);
  EXPECT_EQ(std::strlen(ring.op[4].reply), kReplyBytes - 1);
  write_control_reply(ring.op[4], 4, ControlResult::Done, "ok");
  EXPECT_STREQ(ring.op[4].reply, "ok");
  for (std::size_t i = 3; i < kReplyBytes; ++i) EXPECT_EQ(ring.op[4].reply[i], '\0');
  EXPECT_EQ(ring.op[4].result, 1u);
  EXPECT_EQ(ring.op[4].done_seq, 4u);
}

TEST(ControlRing, HighestSeqCountsFreeSlotsAsZero) {
  CommandRing ring{};
  EXPECT_EQ(highest_ring_seq(ring), 0u);
  post(ring, 3, 11, 6);
  post(ring, 6, 14, 6);
  write_control_reply(ring.op[6], 14, ControlResult::Done, "");
  EXPECT_EQ(highest_ring_seq(ring), 14u);  // answered slots keep their seq
}

}  // namespace
}  // namespace ks
