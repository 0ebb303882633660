// The reroute page's input list: what a scan lists, where it stops, and refreshing one entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/input_list.h"
#include "bridge/tests/support/watcher_fixture.h"

namespace ks {
namespace {

std::uint32_t KS_ABI size_0(const char*) { return 0; }
std::uint32_t KS_ABI size_64(const char*) { return 64; }
std::uint32_t KS_ABI size_24(const char*) { return 24; }

StatusBlock* g_block_for_post = nullptr;
// Names every input, and the tray posts a command while input 3 is being read.
bool KS_ABI name_and_post_at_3(const char* bank, std::int32_t n, char* out, std::int32_t len) {
  if (n == 3) shm_store(g_block_for_post->ring.op[1].seq, 9);
  std::snprintf(out, static_cast<std::size_t>(len), "%s %d", bank, static_cast<int>(n));
  return true;
}

class InputList : public WatcherTest {
protected:
  void SetUp() override {
    WatcherTest::SetUp();
    seed_all();
  }
  ControlResult scan(const char* group, std::string* reply = nullptr) {
    char buf[kReplyBytes] = {};
    ControlResult r = scan_group(group, buf, sizeof buf);
    if (reply) *reply = buf;
    return r;
  }
  ControlResult reread(const char* group, std::int32_t input, std::string* reply = nullptr) {
    char buf[kReplyBytes] = {};
    ControlResult r = reread_listed_input(group, input, buf, sizeof buf);
    if (reply) *reply = buf;
    return r;
  }
  // Inputs of bank A that answer, each with a name.
  void answering_inputs(int from, int to) {
    for (int n = from; n <= to; ++n) {
      FakeInput in;
      in.name = "A in " + std::to_string(n);
      desk().set_input("A", static_cast<std::uint32_t>(n), in);
    }
  }
  void silent_inputs(int from, int to) {
    for (int n = from; n <= to; ++n)
      for (const char* slot : {"read_name", "read_phantom", "headamp_type"})
        desk().fail_input(slot, "A", static_cast<std::uint32_t>(n));
  }
};

TEST_F(InputList, StopsAfterFourUnansweredInARow) {
  answering_inputs(1, 6);
  silent_inputs(7, 10);
  answering_inputs(11, 20);
  EXPECT_EQ(scan("A"), ControlResult::Done);
  EXPECT_EQ(block->input_list_count, 6u);
  EXPECT_STREQ(block->input_list_group, "A");
  EXPECT_EQ(block->input_list[5].input, 6);
  EXPECT_STREQ(block->input_list[5].name, "A in 6");
  EXPECT_EQ(block->input_list[5].has_head_amp, 1);
  EXPECT_TRUE(host().logged("[reroute] scanned A: 6 input(s) in"));
  EXPECT_TRUE(host().logged("(stopped: 4 consecutive unanswered)"));
}

TEST_F(InputList, BankSizeBoundsTheScan) {
  answering_inputs(1, 64);
  struct Row {
    std::uint32_t(KS_ABI* size)(const char*);
    std::uint32_t listed;
  };
  const Row rows[] = {{size_0, 64}, {size_64, 64}, {nullptr, 64}, {size_24, 24}};
  for (const Row& row : rows) {
    desk().desc.bank_size = row.size;
    host().clear();
    EXPECT_EQ(scan("A"), ControlResult::Done);
    EXPECT_EQ(block->input_list_count, row.listed);
    EXPECT_TRUE(
        host().logged(row.listed == 64 ? "(stopped: hit the cap)" : "(stopped: end of the group)"));
  }
}

TEST_F(InputList, InputsFeedingLv1AreListedFromTheModelWithTheirChannels) {
  patch(2, "A", 3);
  patch(6, "A", 3);  // A 3 feeds LV1 channels 3 and 7 (indices 2 and 6)
  block->gain_db[2] = 12.5;
  answering_inputs(1, 4);
  silent_inputs(5, 8);
  desk().clear_calls();
  ASSERT_EQ(scan("A"), ControlResult::Done);
  const ListedInput& e = block->input_list[2];
  EXPECT_EQ(e.input, 3);
  EXPECT_EQ(e.gain_valid, 1);
  EXPECT_DOUBLE_EQ(e.gain_db, 12.5);
  ASSERT_EQ(e.fed_count, 2);
  EXPECT_EQ(e.fed[0], 2);
  EXPECT_EQ(e.fed[1], 6);
  EXPECT_TRUE(desk().calls_of("read_name A 3").empty());  // the desk was not asked
  EXPECT_EQ(block->input_list[0].fed_count, 0);
}

TEST_F(InputList, NothingAnsweringIsRefused) {
  silent_inputs(1, 4);
  std::string reply;
  EXPECT_EQ(scan("A", &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "the desk listed no inputs in that group");
  EXPECT_EQ(block->input_list_count, 0u);
}

TEST_F(InputList, ANewerCommandAbandonsTheScan) {
  answering_inputs(1, 64);
  g_block_for_post = block.get();
  desk().desc.read_name = name_and_post_at_3;
  EXPECT_EQ(scan("A"), ControlResult::Done);
  EXPECT_EQ(block->input_list_count, 3u);
  EXPECT_TRUE(host().logged("[reroute] scan of A abandoned at 4 - a newer request is waiting"));
  EXPECT_TRUE(host().logged("(stopped: end of the group)"));
}

TEST_F(InputList, SerialMovesEveryEightEntriesAndAGroupChangeEmptiesTheList) {
  answering_inputs(1, 20);
  silent_inputs(21, 24);
  std::uint32_t s0 = block->input_list_serial;
  scan("A");
  EXPECT_EQ(block->input_list_serial - s0, 20u / 8 + 1 + 1);  // reset, 2 steps of 8, the end
  std::uint32_t s1 = block->input_list_serial;
  scan("A");  // the same group: no reset
  EXPECT_EQ(block->input_list_serial - s1, 20u / 8 + 1);
  desk().set_input("B", 1, FakeInput{});
  for (std::uint32_t n = 2; n <= 5; ++n) {
    desk().fail_input("read_name", "B", n);
    desk().fail_input("read_phantom", "B", n);
  }
  scan("b");
  EXPECT_EQ(block->input_list_count, 1u);
  EXPECT_STREQ(block->input_list_group, "b");
}

TEST_F(InputList, Refusals) {
  std::string reply;
  EXPECT_EQ(scan("", &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "no source group named");
  desk().set_link(false);
  EXPECT_EQ(scan("A", &reply), ControlResult::DeskNotAnswering);
  EXPECT_EQ(reread("A", 1, &reply), ControlResult::DeskNotAnswering);
  desk().set_link(true);
  channel_model_reset();
  EXPECT_EQ(scan("A", &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "the patch has not been read yet");
}

TEST_F(InputList, RereadRefreshesOneListedInput) {
  answering_inputs(1, 3);
  silent_inputs(4, 7);
  FakeInput no_ha;
  no_ha.headamp_type = 1;
  no_ha.name = "line";
  desk().set_input("A", 2, no_ha);
  ASSERT_EQ(scan("A"), ControlResult::Done);
  ASSERT_EQ(block->input_list[1].has_head_amp, 0);

  desk().set_input("A", 1, FakeInput{22.0, true});
  EXPECT_EQ(reread("a", 1), ControlResult::Done);
  EXPECT_EQ(block->input_list[0].gain_valid, 1);
  EXPECT_DOUBLE_EQ(block->input_list[0].gain_db, 22.0);
  EXPECT_EQ(block->input_list[0].phantom, 1);

  desk().clear_calls();
  block->input_list[1].gain_valid = 1;
  EXPECT_EQ(reread("A", 2), ControlResult::Done);  // no head amp: only gain_valid cleared
  EXPECT_EQ(block->input_list[1].gain_valid, 0);
  EXPECT_TRUE(desk().calls_of("read_preamp").empty());

  std::string reply;
  EXPECT_EQ(reread("B", 1, &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "that group is not the one being shown");
  EXPECT_EQ(reread("A", 9, &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "that input is not in the list being shown");
  EXPECT_EQ(reread("A", 0, &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "no input was named");
  desk().fail_input("read_preamp", "A", 3);
  EXPECT_EQ(reread("A", 3, &reply), ControlResult::Refused);
  EXPECT_EQ(reply, "the desk did not answer for A 3");
}

}  // namespace
}  // namespace ks
