// Dashboard commands served from the ring: each operation's done, refused and not-answering
// paths, hostile records, and the order in which an answer becomes visible.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/control_ops.h"
#include "bridge/lifecycle.h"
#include "bridge/patch_reader.h"
#include "bridge/value_writer.h"
#include "bridge/settings.h"
#include "bridge/tests/support/watcher_fixture.h"
#include "bridge/watcher_flags.h"

namespace ks {
namespace {

struct Answer {
  std::uint32_t result;
  std::string reply;
  std::uint32_t done_seq;
};

class ControlOps : public WatcherTest {
protected:
  std::uint32_t next_seq = 1;

  std::uint32_t post(std::uint32_t op, std::int32_t channel, std::uint32_t arg = 0,
                     double value = 0.0, const char* group = "", std::uint32_t arg2 = 0) {
    std::uint32_t seq = next_seq++;
    ControlOp& r = block->ring.op[command_slot(seq)];
    std::memset(&r, 0, sizeof r);
    r.op = op;
    r.channel = channel;
    r.arg = arg;
    r.arg2 = arg2;
    r.value = value;
    std::strncpy(r.group, group, sizeof r.group);
    shm_store(r.seq, seq);
    return seq;
  }
  Answer answer(std::uint32_t seq) {
    const ControlOp& r = block->ring.op[command_slot(seq)];
    return {r.result, std::string(r.reply, strnlen(r.reply, sizeof r.reply)), r.done_seq};
  }
  Answer serve(std::uint32_t op, std::int32_t channel, std::uint32_t arg = 0, double value = 0.0,
               const char* group = "", std::uint32_t arg2 = 0) {
    std::uint32_t seq = post(op, channel, arg, value, group, arg2);
    run_control_op();
    Answer a = answer(seq);
    EXPECT_EQ(a.done_seq, seq);
    return a;
  }
  void SetUp() override {
    WatcherTest::SetUp();
    seed_all();
  }
};

constexpr std::uint32_t kSetGain = 6, kSetPhantom = 7, kSetProtect = 8, kVerify = 10;

TEST_F(ControlOps, SetGainPaths) {
  struct Row {
    const char* what;
    std::function<void()> arrange;
    std::int32_t channel;
    double value;
    std::uint32_t result;
    const char* reply;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Row rows[] = {
      {"done", nullptr, 2, 12.0, 1, ""},
      {"inside the range by 0.005", nullptr, 2, 45.005, 1, ""},
      {"outside by 0.02", nullptr, 2, 45.02, 2, "45.0 dB is outside this input's range"},
      {"below the minimum", nullptr, 2, -1.0, 2, "-1.0 dB is outside this input's range"},
      {"not a number", nullptr, 2, nan, 2, "that gain is not a number"},
      {"infinite", nullptr, 2, std::numeric_limits<double>::infinity(), 2,
       "that gain is not a number"},
      {"negative channel", nullptr, -1, 3.0, 2, "that channel is out of range"},
      {"channel above 63", nullptr, 64, 3.0, 2, "that channel is out of range"},
      {"channel beyond the watch count", nullptr, 8, 3.0, 2, "that channel is out of range"},
      {"no head amp", [this] { patch(2, "LCL", 3, false); }, 2, 3.0, 2,
       "this input has no head amp"},
      {"link down", [this] { desk().set_link(false); }, 2, 3.0, 3, "the desk is not answering"},
      {"patch unread", [] { channel_model_reset(); }, 2, 3.0, 2, "the patch has not been read yet"},
      {"the desk could not be sent the gain", [this] { desk().fail("send_gain"); }, 2, 3.0, 2,
       "the desk did not take the gain"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();
    SetUp();
    if (row.arrange) row.arrange();
    Answer a = serve(kSetGain, row.channel, 0, row.value);
    EXPECT_EQ(a.result, row.result);
    EXPECT_EQ(a.reply, row.reply);
    if (row.result == 1) {
      EXPECT_EQ(sends("send_gain LCL 3").size(), 1u);
    } else if (row.reply != std::string("the desk did not take the gain")) {
      EXPECT_TRUE(sends("send_gain").empty());
    }
  }
}

TEST_F(ControlOps, HugeValueGivesABoundedReply) {
  Answer a = serve(kSetGain, 2, 0, 1e300);
  EXPECT_EQ(a.result, 2u);
  EXPECT_LT(a.reply.size(), kReplyBytes);
  EXPECT_EQ(a.reply.rfind("1000000", 0), 0u);
}

TEST_F(ControlOps, SetPhantomPaths) {
  Answer on = serve(kSetPhantom, 2, kPhantomArgOn);
  EXPECT_EQ(on.result, 1u);
  EXPECT_TRUE(host().logged("[ctl] 48V ch=2 -> ON (from the dashboard, confirmed by read-back)"));
  EXPECT_TRUE(desk().input("LCL", 3).phantom);

  Answer off = serve(kSetPhantom, 2, 0);
  EXPECT_EQ(off.result, 1u);
  EXPECT_FALSE(desk().input("LCL", 3).phantom);

  ASSERT_TRUE(protect_list_set("LCL", 4, true));
  Answer prot = serve(kSetPhantom, 3, kPhantomArgOn);
  EXPECT_EQ(prot.result, 2u);
  EXPECT_EQ(prot.reply, "LCL 4 is on the 48V protect list - 48V is never switched on here");
  EXPECT_TRUE(sends("send_phantom LCL 4").empty());

  desk().fail_input("read_phantom", "LCL", 5);
  Answer silent = serve(kSetPhantom, 4, kPhantomArgOn);
  EXPECT_EQ(silent.result, 2u);
  EXPECT_EQ(silent.reply, "48V was sent to LCL 5 but the desk did not answer");

  desk().fail_input("send_phantom", "LCL", 6);
  Answer refused = serve(kSetPhantom, 5, kPhantomArgOn);
  EXPECT_EQ(refused.result, 2u);
  EXPECT_EQ(refused.reply, "the desk did not take 48V on at LCL 6");

  Answer range = serve(kSetPhantom, -3, kPhantomArgOn);
  EXPECT_EQ(range.result, 2u);
  EXPECT_EQ(range.reply, "that channel is out of range");

  desk().desc.read_phantom = nullptr;
  Answer blind = serve(kSetPhantom, 6, kPhantomArgOn);
  EXPECT_EQ(blind.result, 1u);
  EXPECT_TRUE(
      host().logged("[48V] ch=6 -> ON: sent, but this desk cannot read it back to confirm"));

  desk().set_link(false);
  EXPECT_EQ(serve(kSetPhantom, 2, kPhantomArgOn).result, 3u);
}

TEST_F(ControlOps, SetProtectPaths) {
  EXPECT_EQ(serve(kSetProtect, 2, kProtectArgAdd).result, 1u);  // by channel: LCL 3, 48 V off
  EXPECT_TRUE(protect_list_contains("LCL", 3));

  block->phantom[3] = 1;  // LCL 4 shows 48 V on
  Answer on = serve(kSetProtect, 3, kProtectArgAdd);
  EXPECT_EQ(on.result, 2u);
  EXPECT_EQ(on.reply, "switch 48V off at LCL 4 first, then protect it");

  EXPECT_EQ(serve(kSetProtect, -1, kProtectArgAdd, 0, "A", 5).result,
            1u);  // by group: the desk is asked
  EXPECT_EQ(desk().calls_of("read_phantom A 5").size(), 1u);
  EXPECT_TRUE(protect_list_contains("A", 5));

  desk().fail_input("read_phantom", "A", 6);
  Answer unread = serve(kSetProtect, -1, kProtectArgAdd, 0, "A", 6);
  EXPECT_EQ(unread.result, 2u);
  EXPECT_EQ(unread.reply, "could not read 48V at A 6 - not protected");

  EXPECT_EQ(serve(kSetProtect, -1, kProtectArgAdd, 0, "", 6).reply,
            "no input was named to protect");
  EXPECT_EQ(serve(kSetProtect, -1, kProtectArgAdd, 0, "A", 0).reply,
            "no input was named to protect");
  EXPECT_EQ(serve(kSetProtect, -1, kProtectArgAdd, 0, "A", 70000).reply,
            "that input number is out of range");
  EXPECT_EQ(serve(kSetProtect, 9, kProtectArgAdd).reply, "that channel has no input to protect");

  EXPECT_EQ(serve(kSetProtect, -1, 0, 0, "A", 5).result, 1u);  // any other arg removes
  EXPECT_FALSE(protect_list_contains("A", 5));

  for (std::uint32_t n = 10; protect_list_count() < 32; ++n)
    ASSERT_TRUE(protect_list_set("B", n, true));
  Answer full = serve(kSetProtect, -1, kProtectArgAdd, 0, "C", 1);
  EXPECT_EQ(full.result, 2u);
  EXPECT_EQ(full.reply, "the protect list is full (32 inputs)");
}

TEST_F(ControlOps, VerifyPaths) {
  desk().set_input("LCL", 3, FakeInput{17.5, true});
  EXPECT_EQ(serve(kVerify, 2).result, 1u);
  EXPECT_DOUBLE_EQ(block->gain_db[2], 17.5);
  EXPECT_EQ(block->phantom[2], 1);
  desk().fail("read_preamp");
  Answer silent = serve(kVerify, 2);
  EXPECT_EQ(silent.result, 2u);
  EXPECT_EQ(silent.reply, "the desk did not answer for LCL 3");
  EXPECT_EQ(serve(kVerify, 40).reply, "that channel is out of range");
  desk().set_link(false);
  EXPECT_EQ(serve(kVerify, 2).result, 3u);
}

TEST_F(ControlOps, RepatchOpsNeedTheCapability) {
  desk().desc.caps = 0;
  desk().clear_calls();
  for (std::uint32_t op : {4u, 5u}) {
    Answer a = serve(op, 2, 0, 0, "A", 3);
    EXPECT_EQ(a.result, 2u);
    EXPECT_EQ(a.reply, "this console's card patch is set on the desk");
  }
  EXPECT_TRUE(desk().calls().empty());
}

TEST_F(ControlOps, RerouteRefusals) {
  EXPECT_EQ(serve(5, 2, 0, 0, "LCL", 3).result, 1u);  // already there
  EXPECT_TRUE(host().logged("[reroute] no-op: LV1 in 3 is already on LCL 3"));
  EXPECT_EQ(serve(5, 2, 0, 0, "A", 0).reply, "no target input named");
  EXPECT_EQ(serve(5, 2, 0, 0, "A", 65).reply, "no target input named");
  EXPECT_EQ(serve(5, -2, 0, 0, "A", 3).reply, "that channel is out of range");
  desk().fail("set_patch");
  EXPECT_EQ(serve(5, 2, 0, 0, "A", 3).reply, "the desk refused the repatch");
  desk().fail("set_patch", false);
  desk().desc.set_patch = nullptr;
  EXPECT_EQ(serve(5, 2, 0, 0, "A", 3).reply, "this desk cannot be repatched");
}

TEST_F(ControlOps, RerouteConfirmedByTheDesk) {
  for (std::uint32_t n = 1; n <= 8; ++n) desk().route("MOD", n, "LCL", n);
  watcher_patch_reads().read_one = patch_read_one;
  watcher_flags().reseed_wanted.store(0);
  watcher_flags().names_wanted.store(0);
  ASSERT_TRUE(is_seeded(2));
  Answer a = serve(5, 2, 0, 0, "A", 5);
  EXPECT_EQ(a.result, 1u);
  EXPECT_EQ(desk().calls_of("set_patch MOD 3 A 5").size(), 1u);
  EXPECT_TRUE(host().logged("[reroute] OK: LV1 in 3 -> A 5"));
  EXPECT_STREQ(channel_view(2).bank, "A");
  EXPECT_EQ(channel_view(2).input, 5u);
  EXPECT_FALSE(is_seeded(2));  // the new input's value is read before LV1's is sent
  EXPECT_TRUE(take(watcher_flags().reseed_wanted));
  EXPECT_TRUE(take(watcher_flags().names_wanted));
}

TEST_F(ControlOps, RerouteTheDeskNeverConfirms) {
  watcher_patch_reads().read_one = patch_read_one;
  desk().fail("read_source");
  Answer a = serve(5, 2, 0, 0, "A", 5);
  EXPECT_EQ(a.result, 2u);
  EXPECT_EQ(a.reply, "the desk did not confirm the repatch");
  EXPECT_EQ(host().lines_with("[reroute] confirm ").size(), 6u);
  EXPECT_TRUE(host().logged("[reroute] readback grp = '"));
  EXPECT_TRUE(host().logged("[reroute] FAILED: desk did not confirm A 5 for LV1 in 3"));
}

TEST_F(ControlOps, HostileRecordsAreRefusedAndTheNextGoodOneIsServed) {
  struct Row {
    std::uint32_t op;
    std::int32_t channel;
    double value;
    const char* group;
    std::uint32_t arg2;
    const char* reply;
  };
  const Row rows[] = {
      {0, 2, 0, "", 0, "unknown control op"},
      {11, 2, 0, "", 0, "unknown control op"},
      {0xFFFFFFFFu, 2, 0, "", 0, "unknown control op"},
      {kSetGain, -2147483647 - 1, 3.0, "", 0, "that channel is out of range"},
      {kSetGain, 2147483647, 3.0, "", 0, "that channel is out of range"},
      {kSetGain, 2, -std::numeric_limits<double>::infinity(), "", 0, "that gain is not a number"},
      {kVerify, -1, 0, "", 0, "that channel is out of range"},
      {9, 0, 0, "LCL\n;x", 3, "no input was named"},
      {kSetProtect, -1, 0, "A,B:1", 3, "no input was named to protect"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    std::uint32_t bad = post(row.op, row.channel, kProtectArgAdd, row.value, row.group, row.arg2);
    std::uint32_t good = post(kSetGain, 1, 0, 5.0);
    run_control_op();
    EXPECT_EQ(answer(bad).done_seq, bad);
    EXPECT_EQ(answer(bad).result, 2u);
    EXPECT_EQ(answer(bad).reply, row.reply);
    EXPECT_EQ(answer(good).done_seq, 0u);  // one record per call
    run_control_op();
    EXPECT_EQ(answer(good).result, 1u);
  }
  EXPECT_EQ(protect_list_count(), 0);

  // A group that fills its field without a NUL names nothing.
  std::uint32_t seq = post(4, 0);
  std::memcpy(block->ring.op[command_slot(seq)].group, "ABCDEFGH", 8);
  run_control_op();
  EXPECT_EQ(answer(seq).reply, "no source group named");
}

TEST_F(ControlOps, SequencesThatJumpOrRepeat) {
  next_seq = 1000;
  std::uint32_t high = post(kSetGain, 1, 0, 5.0);  // slot 0
  next_seq = 3;
  std::uint32_t low = post(kSetGain, 1, 0, 7.5);  // slot 3
  run_control_op();
  EXPECT_EQ(answer(low).done_seq, low);
  EXPECT_EQ(answer(high).done_seq, 0u);
  run_control_op();
  EXPECT_EQ(answer(high).done_seq, high);
  // The same seq left in its slot after it was answered is not served again.
  desk().clear_calls();
  run_control_op();
  EXPECT_TRUE(sends("send_gain").empty());
}

TEST_F(ControlOps, DoneRaisesAStereoCheck) {
  watcher_flags().stereo_wanted.store(0);
  serve(kSetGain, 40, 0, 5.0);
  EXPECT_EQ(watcher_flags().stereo_wanted.load(), 0u);
  serve(kSetGain, 1, 0, 5.0);
  EXPECT_EQ(watcher_flags().stereo_wanted.load(), 1u);
}

// The tray polls done_seq: once it sees its seq, result and reply must already be there.
TEST_F(ControlOps, AnswerIsVisibleBeforeItsDoneSeq) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::atomic<std::uint32_t> watching{0};
  std::thread tray([&] {
    while (!stop.load()) {
      std::uint32_t seq = watching.load();
      if (!seq) continue;
      const ControlOp& r = block->ring.op[command_slot(seq)];
      if (shm_load(r.done_seq) != seq) continue;
      if (__atomic_load_n(&r.result, __ATOMIC_RELAXED) == 0 ||
          __atomic_load_n(&r.reply[0], __ATOMIC_RELAXED) == 0)
        torn.fetch_add(1);
      watching.store(0);
    }
  });
  for (int i = 0; i < 500; ++i) {
    std::uint32_t seq = post(kSetGain, -1);
    watching.store(seq);
    run_control_op();
    while (watching.load() != 0) std::this_thread::yield();
  }
  stop.store(true);
  tray.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace ks
