#include "bridge/watcher_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace ks {
namespace {

TEST(SeedBackoff, DoublesFromTwoSecondsToOneMinute) {
  std::vector<std::uint32_t> got;
  std::uint32_t b = 0;
  for (int i = 0; i < 8; ++i) got.push_back(b = next_seed_backoff(b));
  EXPECT_EQ(got, (std::vector<std::uint32_t>{2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
}

TEST(BankSkipList, TwoFailuresInARowOfOneBankSkipIt) {
  BankSkipList s;
  EXPECT_FALSE(s.note_read("A", false));
  EXPECT_FALSE(s.note_read("B", false));  // another bank breaks the row
  EXPECT_FALSE(s.skipped("A"));
  EXPECT_TRUE(s.note_read("b", false));  // same bank, any case
  EXPECT_TRUE(s.skipped("B"));
  EXPECT_FALSE(s.note_read("A", true));
  EXPECT_FALSE(s.note_read("A", false));  // an answer in between restarts the row
  EXPECT_FALSE(s.skipped("A"));
  s.clear();
  EXPECT_FALSE(s.skipped("B"));
}

TEST(BankSkipList, HoldsAtMostEightBanks) {
  BankSkipList s;
  const char* banks[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I"};
  for (const char* b : banks) {
    s.note_read(b, false);
    s.note_read(b, false);
  }
  EXPECT_EQ(s.count(), 8);
  EXPECT_TRUE(s.skipped("H"));
  EXPECT_FALSE(s.skipped("I"));
}

TEST(DeskBackEdge, FirstContactOnlyMarksTheDeskSeen) {
  DeskBackEdge e;
  EXPECT_FALSE(e.pass(100, false));
  EXPECT_FALSE(e.pass(120, true));    // first time: seen, not "back"
  EXPECT_FALSE(e.pass(5000, false));  // still answering inside 6 s
  EXPECT_TRUE(e.answering(6119));
  EXPECT_FALSE(e.pass(6120, false));  // 6000 ms without a live pass: lost
  EXPECT_FALSE(e.answering(6120));
  EXPECT_TRUE(e.pass(9000, true));  // back
  EXPECT_FALSE(e.pass(9020, true));
}

TEST(DeskBackEdge, ShortDropoutIsNotABackEdge) {
  DeskBackEdge e;
  e.pass(0, true);
  for (Tick t = 20; t < 5000; t += 20) EXPECT_FALSE(e.pass(t, false));
  EXPECT_FALSE(e.pass(5000, true));
}

TEST(DeskBackEdge, AcrossTheTickWrap) {
  DeskBackEdge e;
  e.pass(0xFFFFF000u, true);
  EXPECT_TRUE(e.answering(0x00000100u));  // 0x1100 = 4352 ms later
  EXPECT_FALSE(e.pass(0x00002000u, false));
  EXPECT_FALSE(e.answering(0x00002000u));
  EXPECT_TRUE(e.pass(0x00002100u, true));
}

TEST(CapsNotice, GrowthOfEightWithPacing) {
  CapsNotice n;
  std::uint32_t g = 0;
  EXPECT_FALSE(n.look(0, 64, &g));     // first look: baseline only
  EXPECT_FALSE(n.look(300, 200, &g));  // not 400 ms since the last look
  EXPECT_TRUE(n.look(401, 72, &g));
  EXPECT_EQ(g, 8u);
  EXPECT_FALSE(n.look(802, 100, &g));  // grew, but the last notice is not 800 ms old
  EXPECT_EQ(g, 28u);
  EXPECT_FALSE(n.look(1203, 107, &g));  // grew by 7 only
  EXPECT_TRUE(n.look(1604, 120, &g));
}

TEST(DeskTargetId, TheIdRule) {
  struct Case {
    const char* console;
    const char* desk_id;
    const char* want;  // null: no id to look for
  };
  const Case cases[] = {
      {"", "S123456", "S123456"},
      {"", "name:FOH", nullptr},
      {"", "10.0.0.1", nullptr},
      {"", "", nullptr},
      {"", "00:1b:21:aa:bb:cc", "00:1b:21:aa:bb:cc"},
      {"s123456", "", "s123456"},
      {"s123456", "S123456", "s123456"},
      {"S999", "S123456", nullptr},
      {"", "1.2.3", "1.2.3"},  // not four groups: a plain id
      {"", "1.2.3.256", "1.2.3.256"},
  };
  for (const Case& c : cases) {
    char out[40];
    bool got = desk_target_id(c.console, c.desk_id, out, sizeof out);
    EXPECT_EQ(got, c.want != nullptr) << c.console << " / " << c.desk_id;
    if (c.want && got) {
      EXPECT_STREQ(out, c.want);
    }
  }
}

}  // namespace
}  // namespace ks
