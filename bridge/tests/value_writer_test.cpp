// Gain, 48 V and stereo writes: the refusal order, what reaches the desk (stepped and clamped in
// the status block, raw to the desk), gang copies, the 48 V protect and partner rules, and stereo
// links with their confirmation.
#include "bridge/status_block.h"
#include "bridge/value_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "os/tests/support/manual_clock.h"

namespace ks {
namespace {

class ValueWriter : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    block = std::make_unique<StatusBlock>();
    fresh();
  }
  void TearDown() override {
    if (framework_started()) framework_shutdown();
    status_block_use_memory(nullptr);
    FrameworkTest::TearDown();
  }
  // Everything back to the state at load, with a zeroed status block (each row of a table).
  void fresh() {
    if (framework_started()) framework_shutdown();
    reset_framework();
    status_block_use_memory(block.get());
    use_host();
    framework_hooks().discovery_thread = [] {
      while (!wait_stop(5)) {}
    };
  }
  // A desk chosen and answering, seeded and with its patch read.
  void ready() {
    set_desk_chosen(true);
    watcher_flags().seeding_done.store(1);
    set_patch_read(0);
  }
  std::unique_ptr<StatusBlock> block;
};

TEST_F(ValueWriter, GainRefusalsInTheirOrder) {
  // Each row: the state, what the write gives, the log text, and nothing reaches the desk.
  struct Row {
    const char* what;
    std::function<void()> arrange;
    WriteOutcome outcome;
    const char* log;
  };
  const Row rows[] = {
      {"channel unread while LV1 starts",
       [] {
         set_desk_chosen(true);
         set_patch_read(0);
       },
       WriteOutcome::gated,
       "SET gain ch=2 10.0 dB  [desk value not read yet - LV1 is still starting, not sent]"},
      {"no desk yet", [] { watcher_flags().seeding_done.store(1); }, WriteOutcome::gated,
       "SET gain ch=2 10.0 dB  [no desk yet - not sent]"},
      {"link down",
       [this] {
         ready();
         desk().set_link(false);
       },
       WriteOutcome::link_down, "SET gain ch=2 10.0 dB  [desk link is down - not sent]"},
      {"identity being checked",
       [this] {
         ready();
         set_identity_check_pending(true);
       },
       WriteOutcome::gated,
       "SET gain ch=2 10.0 dB  [checking which console answers after the reconnect - not sent]"},
      {"patch unread",
       [] {
         set_desk_chosen(true);
         watcher_flags().seeding_done.store(1);
       },
       WriteOutcome::gated, "SET gain ch=2 10.0 dB  [desk patch not read yet - not sent]"},
      {"no head amp",
       [this] {
         ready();
         channel_store(2, make_record("LCL", 3, false));
       },
       WriteOutcome::refused, nullptr},
  };
  for (const Row& r : rows) {
    fresh();
    channel_store(2, make_record("LCL", 3));
    r.arrange();
    EXPECT_EQ(bridge_set_gain(2, 10.0), r.outcome) << r.what;
    if (r.log)
      EXPECT_TRUE(host().logged(r.log)) << r.what;
    else
      EXPECT_TRUE(host().lines().empty()) << r.what;
    EXPECT_TRUE(desk().calls_of("send_gain").empty()) << r.what;
    EXPECT_EQ(block->sent_count, 0u) << r.what;
  }
}

TEST_F(ValueWriter, AnAcceptedGainIsSentRawPublishedSteppedAndCopiedToItsGang) {
  ready();
  desk().set_range("A", 0, 60, 2.5);
  channel_store(0, make_record("A", 5));
  channel_store(1,
                make_record("A", 6, true, kStereoUpper));  // upper leg: head amp A 5, as channel 0
  channel_store(2, make_record("a", 5));
  channel_store(3, make_record("A", 5, false));  // no head amp: no copy
  channel_store(4, make_record("B", 5));
  read_bank_range("A");
  ASSERT_EQ(bridge_set_gain(1, 12.3), WriteOutcome::sent);
  EXPECT_EQ(desk().calls_of("send_gain"), std::vector<std::string>{"send_gain A 5 12.30"});
  EXPECT_DOUBLE_EQ(block->gain_db[1], 12.5);
  EXPECT_EQ(block->sent_count, 1u);
  double sent = 0;
  ASSERT_TRUE(last_gain_sent(1, &sent));
  EXPECT_DOUBLE_EQ(sent, 12.3);
  EXPECT_TRUE(own_write(1).ever);
  EXPECT_TRUE(is_seeded(1));
  uint32_t seen[5] = {};
  MailboxTake t;
  ASSERT_TRUE(mailbox_take(0, &seen[0], &t));
  EXPECT_TRUE(t.has_gain);
  EXPECT_DOUBLE_EQ(t.gain, 12.3);
  EXPECT_TRUE(mailbox_take(2, &seen[2], &t));
  EXPECT_FALSE(mailbox_take(1, &seen[1], &t)) << "no copy to itself";
  EXPECT_FALSE(mailbox_take(3, &seen[3], &t));
  EXPECT_FALSE(mailbox_take(4, &seen[4], &t));

  // During the desk-back replay nothing is copied.
  set_replay_running(true);
  ASSERT_EQ(bridge_set_gain(0, 70.0), WriteOutcome::sent);
  EXPECT_DOUBLE_EQ(block->gain_db[0], 60.0) << "clamped to the bank's maximum";
  EXPECT_FALSE(mailbox_take(2, &seen[2], &t));
}

TEST_F(ValueWriter, SeedingGateLetsTheSameMoveThroughOnceSeeded) {
  set_desk_chosen(true);
  set_patch_read(0);
  channel_store(0, make_record("LCL", 1));
  EXPECT_EQ(bridge_set_gain(0, 3.0), WriteOutcome::gated);
  watcher_flags().seeding_done.store(1);
  EXPECT_EQ(bridge_set_gain(0, 3.0), WriteOutcome::sent);
  // A channel seeded before the sweep finished is not held back.
  watcher_flags().seeding_done.store(0);
  mark_seeded(5);
  channel_store(5, make_record("LCL", 6));
  EXPECT_EQ(bridge_set_gain(5, 3.0), WriteOutcome::sent);
}

TEST_F(ValueWriter, BadChannelsAndValuesNeverReachTheDesk) {
  // Before the patch is read every channel would map to base + channel: 64 must not pass.
  set_desk_chosen(true);
  watcher_flags().seeding_done.store(1);
  EXPECT_EQ(bridge_set_gain(64, 1.0), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_phantom(64, false), WriteOutcome::refused);
  ready();
  for (int ch = 0; ch < 64; ++ch) channel_store(ch, make_record("LCL", uint32_t(ch + 1)));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(bridge_set_gain(-1, 1.0), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_gain(64, 1.0), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_gain(0x7FFFFFFF, 1.0), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_gain(3, nan), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_gain(3, inf), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_gain(3, -inf), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_phantom(-5, true), WriteOutcome::refused);
  EXPECT_EQ(bridge_set_phantom(64, true), WriteOutcome::refused);
  EXPECT_TRUE(desk().calls_of("send_").empty());
}

// A desk that cannot take a write at once (its socket full, or another thread sending): LV1's
// value is not lost and not sent out of order. The latest per channel and kind waits, the status
// block shows it, and the watcher's next pass sends it once the desk takes writes again.
TEST_F(ValueWriter, AWriteTheDeskCannotTakeNowIsDeferredThenSentLatestFirst) {
  ready();
  channel_store(0, make_record("LCL", 1));
  channel_store(1, make_record("LCL", 1));
  desk().fail("send_gain");
  desk().fail("send_phantom");
  block->gain_db[0] = 4.0;
  EXPECT_EQ(bridge_set_gain(0, 20.0), WriteOutcome::deferred);
  EXPECT_EQ(bridge_set_gain(0, 22.4), WriteOutcome::deferred);
  EXPECT_EQ(bridge_set_phantom(0, true), WriteOutcome::deferred);
  EXPECT_DOUBLE_EQ(block->gain_db[0], 22.5) << "the block shows the value on its way, stepped";
  EXPECT_EQ(block->phantom[0], 1);
  EXPECT_EQ(block->sent_count, 0u) << "nothing counts as sent before the desk took it";
  EXPECT_FALSE(last_gain_sent(0, nullptr));
  double db = 0;
  bool on = false;
  ASSERT_TRUE(gain_deferred(0, &db));
  EXPECT_DOUBLE_EQ(db, 22.4);
  ASSERT_TRUE(phantom_deferred(0, &on));
  EXPECT_TRUE(on);
  uint32_t seen = 0;
  MailboxTake t;
  EXPECT_FALSE(mailbox_take(1, &seen, &t)) << "no gang copy before the desk has the value";
  EXPECT_EQ(
      host()
          .lines_with(
              "SET gain ch=0 20.0 dB  [the desk is not taking writes at once - deferred, sent at the next pass]")
          .size(),
      1u);
  EXPECT_EQ(host().lines_with("deferred, sent at the next pass").size(), 2u)
      << "once per waiting value, not per move";
  EXPECT_TRUE(
      host().logged("48V] ch=0 -> LCL 1 = ON: the desk is not taking writes at once - deferred"));

  // Still full at the next pass: the values keep waiting.
  EXPECT_EQ(send_deferred_writes(), 0);
  EXPECT_TRUE(gain_deferred(0, nullptr));
  EXPECT_TRUE(phantom_deferred(0, nullptr));

  // The desk takes writes again; a newer LV1 value does not overtake the one waiting.
  desk().fail("send_gain", false);
  desk().fail("send_phantom", false);
  desk().clear_calls();
  EXPECT_EQ(bridge_set_gain(0, 30.0), WriteOutcome::deferred);
  EXPECT_TRUE(desk().calls_of("send_gain").empty());
  EXPECT_EQ(send_deferred_writes(), 2);
  EXPECT_EQ(desk().calls_of("send_gain"), std::vector<std::string>{"send_gain LCL 1 30.00"});
  EXPECT_EQ(desk().calls_of("send_phantom"), std::vector<std::string>{"send_phantom LCL 1 1"});
  EXPECT_FALSE(gain_deferred(0, nullptr));
  EXPECT_FALSE(phantom_deferred(0, nullptr));
  EXPECT_EQ(block->sent_count, 2u);
  EXPECT_TRUE(last_gain_sent(0, &db));
  EXPECT_DOUBLE_EQ(db, 30.0);
  ASSERT_TRUE(mailbox_take(1, &seen, &t));
  EXPECT_TRUE(t.has_gain);
  EXPECT_DOUBLE_EQ(t.gain, 30.0);
  EXPECT_EQ(send_deferred_writes(), 0) << "each value goes out once";
  EXPECT_EQ(bridge_set_gain(0, 31.0), WriteOutcome::sent)
      << "with nothing waiting, writes go straight out";
}

// Deferred values wait through a lost link and go out when it is back; the desk as the source
// of truth after a loss drops them instead, and a driver without the slot is no deferral.
TEST_F(ValueWriter, DeferredValuesWaitForTheLinkOrGiveWayToTheDesk) {
  ready();
  channel_store(0, make_record("LCL", 1));
  desk().fail("send_gain");
  EXPECT_EQ(bridge_set_gain(0, 12.0), WriteOutcome::deferred);
  desk().fail("send_gain", false);
  desk().set_link(false);
  desk().clear_calls();
  EXPECT_EQ(send_deferred_writes(), 0);
  EXPECT_TRUE(desk().calls_of("send_gain").empty());
  EXPECT_TRUE(gain_deferred(0, nullptr)) << "a lost link loses no deferred value";
  desk().set_link(true);
  EXPECT_EQ(send_deferred_writes(), 1);
  EXPECT_EQ(desk().calls_of("send_gain"), std::vector<std::string>{"send_gain LCL 1 12.00"});

  desk().fail("send_gain");
  EXPECT_EQ(bridge_set_gain(0, 14.0), WriteOutcome::deferred);
  EXPECT_EQ(drop_deferred_writes(), 1);
  EXPECT_FALSE(gain_deferred(0, nullptr));
  desk().fail("send_gain", false);
  EXPECT_EQ(send_deferred_writes(), 0);

  desk().desc.send_gain = nullptr;
  EXPECT_EQ(bridge_set_gain(0, 16.0), WriteOutcome::send_failed);
  EXPECT_FALSE(gain_deferred(0, nullptr));
  EXPECT_TRUE(host().logged("could not send"));
}

TEST_F(ValueWriter, PhantomGoesToTheOwnInputAndGangsByInput) {
  ready();
  channel_store(0, make_record("A", 6, true, kStereoUpper));  // head amp A 5, own input A 6
  channel_store(1, make_record("A", 6));
  channel_store(2, make_record("A", 5));
  ASSERT_EQ(bridge_set_phantom(0, true), WriteOutcome::sent);
  EXPECT_EQ(desk().calls_of("send_phantom"), std::vector<std::string>{"send_phantom A 6 1"});
  EXPECT_TRUE(host().logged("[48V] ch=0 -> A 6 = ON"));
  EXPECT_EQ(block->phantom[0], 1);
  EXPECT_TRUE(module_phantom(0));
  uint32_t seen[3] = {};
  MailboxTake t;
  ASSERT_TRUE(mailbox_take(1, &seen[1], &t));
  EXPECT_TRUE(t.has_phantom && t.phantom);
  EXPECT_FALSE(mailbox_take(2, &seen[2], &t));
}

TEST_F(ValueWriter, PhantomRefusalsInTheirOrder) {
  struct Row {
    const char* what;
    std::function<void()> arrange;
    bool on;
    WriteOutcome outcome;
    const char* log;
  };
  auto protect = [](const char* b, uint32_t n) { ASSERT_TRUE(protect_list_set(b, n, true)); };
  const Row rows[] = {
      {"LV1 still starting", [] { set_patch_read(0); }, true, WriteOutcome::gated,
       "[48V] ch=3 1 not sent: desk value not read yet - LV1 is still starting"},
      {"patch unread", [] { watcher_flags().seeding_done.store(1); }, true, WriteOutcome::gated,
       "[48V] REFUSED ch=3: the desk patch has not been read yet, so which input this is cannot be known"},
      {"input protected",
       [&] {
         ready();
         protect("LCL", 4);
       },
       true, WriteOutcome::refused,
       "[48V] REFUSED ch=3 -> LCL 4: input is protected in kestrune.cfg"},
      {"partner unknown",
       [&] {
         ready();
         protect("LCL", 9);
         desk().enable_partner_slot();
         desk().set_partner("LCL", 4, -1, "", 0);
       },
       true, WriteOutcome::refused,
       "[48V] REFUSED ch=3 -> LCL 4: whether the desk links its 48V to another input is not known yet"},
      {"partner protected",
       [&] {
         ready();
         protect("LCL", 3);
         channel_store(3, make_record("LCL", 4, true, kStereoUpper));
       },
       true, WriteOutcome::refused,
       "[48V] REFUSED ch=3 -> LCL 4: the desk switches LCL 3's 48V with it, and that input is protected in kestrune.cfg"},
      {"partner named but unusable",
       [&] {
         ready();
         protect("LCL", 9);
         desk().enable_partner_slot();
         desk().set_partner("LCL", 4, 1, "LCL", 0);
       },
       true, WriteOutcome::refused, "is not known yet"},
      {"off on a protected input is sent",
       [&] {
         ready();
         protect("LCL", 4);
       },
       false, WriteOutcome::sent, "[48V] ch=3 -> LCL 4 = off"},
      {"no desk yet",
       [&] {
         watcher_flags().seeding_done.store(1);
         set_patch_read(0);
         set_desk_chosen(false);
       },
       true, WriteOutcome::gated, "SET 48V ch=3 1  [no desk yet - not sent]"},
      {"link down",
       [&] {
         ready();
         desk().set_link(false);
       },
       true, WriteOutcome::link_down, "[48V] ch=3 -> ON: desk link is down - not sent"},
      {"identity being checked",
       [&] {
         ready();
         set_identity_check_pending(true);
       },
       false, WriteOutcome::gated,
       "[48V] ch=3 -> off: checking which console answers after the reconnect - not sent"},
  };
  for (const Row& r : rows) {
    fresh();
    channel_store(3, make_record("LCL", 4));
    r.arrange();
    host().clear();
    EXPECT_EQ(bridge_set_phantom(3, r.on), r.outcome) << r.what;
    EXPECT_TRUE(host().logged(r.log)) << r.what;
    bool sent = !desk().calls_of("send_phantom").empty();
    EXPECT_EQ(sent, r.outcome == WriteOutcome::sent) << r.what;
  }
}

TEST_F(ValueWriter, ARefusedPhantomTakesTheDesksStateBack) {
  ready();
  channel_store(0, make_record("LCL", 1));
  ASSERT_TRUE(protect_list_set("LCL", 1, true));
  block->phantom[0] = 0;
  EXPECT_EQ(bridge_set_phantom(0, true), WriteOutcome::refused);
  EXPECT_FALSE(module_phantom(0));
}

TEST_F(ValueWriter, PhantomPartnerTable) {
  struct Row {
    uint8_t mode;
    uint32_t input;
    int32_t result;
    uint32_t partner;
  };
  const Row rows[] = {
      {kMono, 5, 0, 0},         {kStereoLower, 5, 1, 6},  {kStereoUpper, 6, 1, 5},
      {kMidSideLower, 1, 1, 2}, {kMidSideUpper, 2, 1, 1}, {kStereoUpper, 1, 0, 0},
  };
  for (const Row& r : rows) {
    ChannelRecord c = make_record("B", r.input);
    c.link_mode = r.mode;
    channel_store(7, c);
    set_patch_read(0);
    char bank[8] = "";
    uint32_t in = 0;
    EXPECT_EQ(phantom_partner(7, bank, sizeof bank, &in), r.result)
        << int(r.mode) << " " << r.input;
    if (r.result == 1) {
      EXPECT_STREQ(bank, "B");
      EXPECT_EQ(in, r.partner);
    }
  }
  char bank[8];
  uint32_t in;
  EXPECT_EQ(phantom_partner(64, bank, sizeof bank, &in), 0);
  EXPECT_EQ(phantom_partner(-1, bank, sizeof bank, &in), 0);
  // The driver's own answer wins over the odd/even rule.
  desk().enable_partner_slot();
  desk().set_partner("B", 1, 1, "C", 9);
  channel_store(7, make_record("B", 1));
  EXPECT_EQ(phantom_partner(7, bank, sizeof bank, &in), 1);
  EXPECT_STREQ(bank, "C");
  EXPECT_EQ(in, 9u);
  desk().hostile_text(true);
  EXPECT_EQ(phantom_partner(7, bank, sizeof bank, &in), -1)
      << "a partner bank that does not fit is unknown";
}

// ---- stereo links ----

FakeInput phantom_on() {
  FakeInput in;
  in.phantom = true;
  return in;
}

class StereoLink : public ValueWriter {
protected:
  void SetUp() override {
    ValueWriter::SetUp();
    clock = std::make_unique<ManualClock>(0, ManualClock::Mode::automatic);
    set_bridge_clock(clock.get());
    ready();
    desk().set_input("LCL", 3, FakeInput{});
    desk().set_input("LCL", 4, FakeInput{});
    desk().route("MOD", 1, "LCL", 3);
    desk().route("MOD", 2, "LCL", 4);
    channel_store(0, make_record("LCL", 3));
    channel_store(1, make_record("LCL", 4));
  }
  ControlResult link(int ch, uint32_t op, uint32_t arg = 0, double value = -250.0) {
    reply[0] = 'x';
    return set_stereo_link(ch, op, arg, value, reply, sizeof reply);
  }
  std::unique_ptr<ManualClock> clock;
  char reply[96];
};

TEST_F(StereoLink, RefusalsInTheirOrder) {
  EXPECT_EQ(link(64, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "bad channel");
  EXPECT_EQ(link(-1, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "bad channel");
  desk().set_link(false);
  EXPECT_EQ(link(0, 1), ControlResult::DeskNotAnswering);
  EXPECT_STREQ(reply, "the desk link is down");
  desk().set_link(true);
  desk().desc.caps = 0;
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "this console links stereo on its own channels - set it on the desk");
  EXPECT_TRUE(desk().calls_of("send_mode").empty());
  EXPECT_TRUE(desk().calls_of("read_").empty()) << "nothing asked of the desk";
}

TEST_F(StereoLink, PatchUnreadComesBeforeTheLink) {
  channel_model_reset();
  desk().set_link(false);
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "the desk patch has not been read yet");
}

TEST_F(StereoLink, LinkIsSentFromTheLowerLegAndConfirmed) {
  EXPECT_EQ(link(1, 1), ControlResult::Done);
  EXPECT_EQ(desk().calls_of("send_mode"), std::vector<std::string>{"send_mode LCL 3 ST"});
  EXPECT_EQ(channel_record(0).link_mode, kStereoLower);
  EXPECT_EQ(channel_record(1).link_mode, kStereoUpper);
  EXPECT_EQ(channel_record(1).head_amp_input, 3u);
  EXPECT_EQ(block->sent_count, 1u);
  EXPECT_TRUE(host().logged("[stereo] ch=1 LCL 3/4 -> ST (arg=0)"));
  EXPECT_LE(clock->total_slept(), 250u);
  EXPECT_EQ(link(0, 3), ControlResult::Done);
  EXPECT_EQ(channel_record(0).link_mode, kMidSideLower);
}

TEST_F(StereoLink, ALinkTheDeskNeverShowsIsNotReportedAsDone) {
  desk().fail("send_mode");
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "the desk refused the link change");
  desk().fail("send_mode", false);
  desk().fail("read_mode");  // it never reads back as linked
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "the desk did not confirm the stereo link");
  EXPECT_EQ(clock->total_slept(), 250u) << "five tries of 50 ms";
}

TEST_F(StereoLink, Arg1SwitchesBothLegsOffFirst) {
  desk().set_input("LCL", 3, phantom_on());
  desk().set_input("LCL", 4, phantom_on());
  EXPECT_EQ(link(0, 1, 1), ControlResult::Done);
  auto calls = desk().calls();
  std::vector<std::string> sends;
  for (auto& c : calls)
    if (c.rfind("send_", 0) == 0) sends.push_back(c);
  EXPECT_EQ(sends, (std::vector<std::string>{"send_phantom LCL 3 0", "send_phantom LCL 4 0",
                                             "send_mode LCL 3 ST"}));
  EXPECT_TRUE(host().logged("[stereo] 48V off at LCL 4 before link"));
}

TEST_F(StereoLink, A48VLegWithAProtectedPartnerIsNotLinked) {
  ASSERT_TRUE(protect_list_set("LCL", 4, true));
  desk().set_input("LCL", 3, phantom_on());
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  EXPECT_STREQ(reply, "won't link: 48V is on and LCL 4 is a protected ribbon input");
  EXPECT_TRUE(host().logged("[stereo] REFUSED link ch=0 LCL 3/4: 48V on with a protected leg"));
  EXPECT_TRUE(desk().calls_of("send_mode").empty());
  // 48 V that cannot be read counts as on.
  desk().set_input("LCL", 3, FakeInput{});
  desk().fail("read_phantom");
  EXPECT_EQ(link(0, 1), ControlResult::Refused);
  // Unlinking is always allowed.
  EXPECT_EQ(link(0, 2), ControlResult::Done);
}

TEST_F(StereoLink, UnlinkHandsTheGainOverOnlyWithAValue) {
  ASSERT_EQ(link(0, 1), ControlResult::Done);
  desk().clear_calls();
  EXPECT_EQ(link(0, 2, 3, -250.0), ControlResult::Done);
  EXPECT_TRUE(desk().calls_of("send_gain").empty());
  ASSERT_EQ(link(0, 1), ControlResult::Done);
  clear_seeded(1);
  EXPECT_EQ(link(0, 2, 3, 17.5), ControlResult::Done);
  EXPECT_EQ(desk().calls_of("send_gain"), std::vector<std::string>{"send_gain LCL 4 17.50"});
  EXPECT_DOUBLE_EQ(block->gain_db[1], 17.5);
  EXPECT_TRUE(is_seeded(1));
  EXPECT_TRUE(host().logged("[stereo] unlink gain handover: LCL 4 = 17.5 dB"));
  ASSERT_EQ(link(0, 1), ControlResult::Done);
  desk().clear_calls();
  EXPECT_EQ(link(0, 2, 3, std::numeric_limits<double>::quiet_NaN()), ControlResult::Done);
  EXPECT_TRUE(desk().calls_of("send_gain").empty());
}

}  // namespace
}  // namespace ks
