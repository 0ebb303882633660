// The LV1 watcher's passes on a stepped clock against the fake desk: desk pushes through the
// mailboxes to LV1, seeding and its back-off, the desk lost and back, the identity re-check and
// the schedules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/watcher_fixture.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"

namespace ks {
namespace {

// ---- reporting rules through the real path: desk push -> mailbox -> pass -> LV1 -------------

struct ReportCase {
  const char* name;
  bool seed_first;  // the channel already reported a value (5.0 dB)
  int write_at;     // ms: LV1 writes 20 dB through the module (-1: no write)
  int push_at;      // ms: the desk pushes `push`
  double push;
  int rewrite_at;       // ms: a second write by LV1 (-1: none)
  bool reported_now;    // reported by the pass right after the push
  bool reported_later;  // reported within the next 400 ms
};

class Reporting : public WatcherTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(Reporting, DeskPushToLv1) {
  const ReportCase& c = GetParam();
  const int ch = 2;  // LCL 3
  watcher_flags().seeding_done.store(1);
  if (c.seed_first) {
    desk().push("LCL", 3, "g", 5.0, 0);
    pass();
    ASSERT_EQ(gain_reports(ch).size(), 1u);
    host().clear();
  }
  Tick t0 = clock.now();
  auto at = [&](int ms) {
    while (static_cast<int>(ticks_elapsed(clock.now(), t0)) + 10 <= ms) pass(10);
  };
  if (c.write_at >= 0) {
    at(c.write_at);
    ASSERT_EQ(bridge_set_gain(ch, 20.0), WriteOutcome::sent);
  }
  at(c.push_at);
  ASSERT_TRUE(desk().push("LCL", 3, "g", c.push, 0));
  pass(0);
  auto count = [&] {
    int n = 0;
    for (const FakeReport& r : gain_reports(ch)) n += std::fabs(r.db - c.push) < 1e-9;
    return n;
  };
  EXPECT_EQ(count(), c.reported_now ? 1 : 0) << c.name;
  if (c.rewrite_at >= 0) {
    at(c.rewrite_at);
    ASSERT_EQ(bridge_set_gain(ch, 25.0), WriteOutcome::sent);
  }
  run_for(400);
  EXPECT_EQ(count(), c.reported_now || c.reported_later ? 1 : 0) << c.name;
  EXPECT_DOUBLE_EQ(block->gain_db[ch], c.rewrite_at >= 0 ? 25.0 : c.push) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, Reporting,
    ::testing::Values(
        ReportCase{"first value always, 10 ms after a write", false, 0, 10, 12.0, -1, true, true},
        ReportCase{"echo of LV1's value inside 250 ms: held, then reported", true, 0, 100, 20.0, -1,
                   false, true},
        ReportCase{"desk move inside 250 ms: held, not lost", true, 0, 100, 21.5, -1, false, true},
        ReportCase{"push 300 ms after a write: reported", true, 0, 300, 8.0, -1, true, true},
        ReportCase{"move under 0.01 dB: dropped", true, -1, 40, 5.004, -1, false, false},
        ReportCase{"held value superseded by a later write", true, 0, 100, 9.0, 150, false, false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(WatcherTest, PhantomPushesFirstValueThenChangesAndAlarmOnAProtectedInput) {
  const int ch = 4;  // LCL 5
  ASSERT_TRUE(protect_list_set("LCL", 5, true));
  desk().push("LCL", 5, "vph", 0, 0);
  pass();
  ASSERT_EQ(phantom_reports(ch).size(), 1u);
  EXPECT_EQ(phantom_reports(ch)[0].on, 0u);
  desk().push("LCL", 5, "vph", 0, 1);
  pass();
  ASSERT_EQ(phantom_reports(ch).size(), 2u);
  EXPECT_EQ(phantom_reports(ch)[1].on, 1u);
  EXPECT_TRUE(host().logged("[48V] ALARM: LCL 5 is PROTECTED but now reads 48V ON"));
  EXPECT_EQ(block->phantom[ch], 1);
}

TEST_F(WatcherTest, ChannelsAboveTheWatchCountAreNeverReported) {
  settings().watch.store(4);
  desk().push("LCL", 6, "g", 30.0, 0);  // channel 5, outside the watch
  pass();
  EXPECT_TRUE(gain_reports(5).empty());
}

// ---- desk events: what each kind asks for --------------------------------------------------

TEST_F(WatcherTest, DeskEventRouting) {
  enum : unsigned { kPatch = 1, kReseed = 2, kNames = 4, kRereadMode = 8, kStereo = 16 };
  struct Case {
    const char* bank;
    std::int32_t n;
    const char* kind;
    unsigned wants;         // the requests raised, and no other
    std::uint64_t repatch;  // the channels marked for a re-patch read
    std::uint64_t mode;     // the channels marked for a mode read
  } cases[] = {
      {"", 0, "$reread", kPatch | kReseed | kNames, 0, 0},
      {"", 0, "$reseed", kRereadMode | kReseed, 0, 0},
      {"LCL", 3, "grp", kNames, 1ull << 2, 0},  // card channel 3 is LV1 channel 3 only
      {"LCL", 64, "in", kNames, 1ull << 63, 0},
      {"LCL", 65, "in", kPatch | kNames, 0, 0},  // no such channel: the whole patch
      {"LCL", 0, "grp", kPatch | kNames, 0, 0},
      {"LCL", 2, "name", kNames, 0, 0},
      {"LCL", 2, "cnm", kNames, 0, 0},
      {"lcl", 3, "mode", 0, 0, (1ull << 2) | (1ull << 3)},  // input 3 and its partner 4
      {"LCL", 6, "mode", 0, 0, (1ull << 4) | (1ull << 5)},  // input 6 and its partner 5
      {"A", 3, "mode", kStereo, 0, 0},                      // nobody watches A 3
      {"LCL", 2, "cgrp", kNames, 0, 0},
      {"LCL", 2, "cin", kNames, 0, 0},
      {"LCL", 7, "$ract", 0, 1ull << 6, 0},
      {"LCL", 7, "$ha", 0, 1ull << 6, 0},
      {"lcl", 8, "rmt", 0, 1ull << 7, 0},
      {"A", 7, "$ract", 0, 0, 0},    // nobody watches A 7
      {"LCL", 7, nullptr, 0, 0, 0},  // a null kind is ignored
      {"LCL", 7, "fader", 0, 0, 0},  // an unknown one too
  };
  WatcherFlags& f = watcher_flags();
  for (const Case& c : cases) {
    watcher_flags_reset();
    on_desk_event(c.bank, c.n, c.kind, 0, 0, nullptr);
    unsigned got = (f.patch_wanted ? kPatch : 0) | (f.reseed_wanted ? kReseed : 0) |
                   (f.names_wanted ? kNames : 0) | (f.reread_mode ? kRereadMode : 0) |
                   (f.stereo_wanted ? kStereo : 0);
    const char* kind = c.kind ? c.kind : "(null)";
    EXPECT_EQ(got, c.wants) << kind << " " << c.bank << " " << c.n;
    EXPECT_EQ(f.repatch_bits.load(), c.repatch) << kind << " " << c.bank << " " << c.n;
    EXPECT_EQ(f.mode_bits.load(), c.mode) << kind << " " << c.bank << " " << c.n;
  }
}

TEST_F(WatcherTest, GainPushOnAStereoPartnerGoesToTheParkedGain) {
  // Channel 5 is fed from LCL 6, the upper leg of a pair: its head amp is LCL 5's.
  ChannelRecord r = channel_record(5);
  r.head_amp_input = 5;
  r.link_mode = kStereoUpper;
  channel_store(5, r);
  desk().push("LCL", 6, "g", -3.0, 0);  // the own input's gain
  pass();
  EXPECT_EQ(channel_record(5).parked_valid, 1);
  EXPECT_DOUBLE_EQ(channel_record(5).parked_gain, -3.0);
  EXPECT_TRUE(gain_reports(5).empty());
  desk().push("LCL", 5, "g", 9.0, 0);  // the head amp's gain reaches both channels it drives
  pass();
  ASSERT_EQ(gain_reports(4).size(), 1u);
  ASSERT_EQ(gain_reports(5).size(), 1u);
  EXPECT_DOUBLE_EQ(gain_reports(5)[0].db, 9.0);
}

TEST_F(WatcherTest, PushesBeforeThePatchIsReadOnlyRaiseRequests) {
  channel_model_reset();
  MailboxTake t;
  std::uint32_t seen = 0;
  on_desk_event("LCL", 1, "g", 9.0, 0, nullptr);
  EXPECT_FALSE(mailbox_take(0, &seen, &t));
  on_desk_event("LCL", 1, "grp", 0, 0, nullptr);
  EXPECT_EQ(watcher_flags().repatch_bits.load(), 1u);
}

// ---- seeding --------------------------------------------------------------------------------

TEST_F(WatcherTest, SeedingReportsEveryChannelOnceAndAppliesNothingElse) {
  want(watcher_flags().reseed_wanted);
  pass();
  for (int ch = 0; ch < 8; ++ch) {
    auto g = gain_reports(ch);
    ASSERT_EQ(g.size(), 1u) << ch;
    EXPECT_DOUBLE_EQ(g[0].db, 2.5 * ch);
    EXPECT_EQ(phantom_reports(ch).size(), 1u);
    EXPECT_TRUE(is_seeded(ch));
  }
  EXPECT_TRUE(host().logged("[bridge] seeded 8 channel(s) from the desk"));
  EXPECT_EQ(watcher_flags().seeding_done.load(), 1u);
  EXPECT_TRUE(sends("send_").empty());
}

TEST_F(WatcherTest, BankThatFailsTwiceIsSkippedAndFailedChannelsLoseTheirHeadAmp) {
  for (int ch = 4; ch < 8; ++ch) patch(ch, "A", static_cast<std::uint32_t>(ch + 1));
  desk().fail_input("read_gain", "LCL", 2);  // one LCL channel never answers
  desk().fail_input("read_gain", "A", 5);
  desk().fail_input("read_gain", "A", 6);  // two A failures in a row: A is skipped
  want(watcher_flags().reseed_wanted);
  pass();
  EXPECT_TRUE(host().logged("[bridge] A is not answering gain reads - skipping it this sweep"));
  EXPECT_TRUE(desk().calls_of("read_gain A 7").empty());
  EXPECT_EQ(gain_reports(0).size(), 1u);
  // Three LCL channels answered (fewer than four): no second look, the head amps stay.
  EXPECT_TRUE(channel_has_head_amp(1));

  host().clear();
  for (int ch = 4; ch < 8; ++ch) patch(ch, "LCL", static_cast<std::uint32_t>(ch + 1));
  want(watcher_flags().reseed_wanted);
  pass();
  // Seven answered, LCL 2 failed twice: it is shown without preamp controls.
  EXPECT_TRUE(host().logged(
      "[bridge] LCL 2 has no head amp (no gain node) - LV1 in 2 shown without preamp controls"));
  EXPECT_FALSE(channel_has_head_amp(1));
}

TEST_F(WatcherTest, DeskThatAnswersNoGainReadIsRetriedWithBackoff) {
  desk().fail("read_gain");
  want(watcher_flags().reseed_wanted);
  std::vector<Tick> at;
  std::size_t seen = 0;
  Tick start = clock.now();
  while (ticks_elapsed(clock.now(), start) < 250000) {
    pass(20);
    auto lines = host().lines_with("[bridge] no gain read answered");
    if (lines.size() > seen) {
      seen = lines.size();
      at.push_back(clock.now());
    }
  }
  ASSERT_GE(at.size(), 8u);
  const std::uint32_t want_gaps[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000};
  for (std::size_t i = 0; i < 7; ++i) {
    std::uint32_t gap = ticks_elapsed(at[i + 1], at[i]);
    EXPECT_GE(gap, want_gaps[i]) << i;
    EXPECT_LE(gap, want_gaps[i] + 40) << i;
  }
  EXPECT_TRUE(host().logged("no gain read answered (2 tried) - retrying in 60 s"));

  desk().fail("read_gain", false);  // the desk answers again: seeded, back-off cleared
  run_for(61000);
  EXPECT_EQ(watcher_flags().seed_backoff_ms.load(), 0u);
  EXPECT_EQ(gain_reports(3).size(), 1u);
}

// ---- desk lost and back ---------------------------------------------------------------------

TEST_F(WatcherTest, DeskBackWithLv1AsSourceReplaysTheCachedValues) {
  settings().watch.store(64);
  for (int ch = 8; ch < 64; ++ch) {
    patch(ch, "LCL", static_cast<std::uint32_t>(ch + 1));
    desk().set_input("LCL", static_cast<std::uint32_t>(ch + 1), FakeInput{});
  }
  seed_all();
  for (int ch = 0; ch < 64; ++ch) {
    host().gain_object.gain[ch] = 10.0 + 0.5 * ch;
    host().gain_object.phantom[ch] = ch == 3;
  }
  clear_seeded(6);  // never had a desk value: not replayed
  settings().resync_lv1.store(true);
  desk().set_link(false);
  run_for(6500);
  desk().clear_calls();
  host().clear();
  desk().set_link(true);
  pass();
  EXPECT_TRUE(host().logged("[sync] desk back - LV1 is the source of truth"));
  EXPECT_TRUE(host().logged(
      "[sync] replayed 63 channel(s) to the desk (1 with 48V, 1 skipped as unknown)"));
  for (int ch = 0; ch < 64; ++ch) {
    char want[48];
    std::snprintf(want, sizeof want, "send_gain LCL %d %.2f", ch + 1, 10.0 + 0.5 * ch);
    EXPECT_EQ(sends(want).size(), ch == 6 ? 0u : 1u) << ch;
  }
  EXPECT_EQ(sends("send_phantom LCL 4 1").size(), 1u);
  // The replayed values are not echoed back to LV1 as desk values in that pass.
  for (int ch = 0; ch < 64; ++ch) EXPECT_TRUE(gain_reports(ch).empty()) << ch;
}

TEST_F(WatcherTest, DeskBackWithLv1AsSourceButNoPatchSendsNothing) {
  seed_all();
  settings().resync_lv1.store(true);
  desk().set_link(false);
  run_for(6500);
  channel_model_reset();
  desk().clear_calls();
  desk().set_link(true);
  pass();
  EXPECT_TRUE(host().logged("[sync] no patch yet - not replaying to the desk"));
  EXPECT_TRUE(sends("send_").empty());
}

TEST_F(WatcherTest, DeskBackWithDeskAsSourceReseedsEveryChannelAsAFirstValue) {
  seed_all();
  settings().resync_lv1.store(false);
  desk().set_link(false);
  run_for(6500);
  host().clear();
  desk().set_link(true);
  pass();  // desk back: re-seed asked for
  pass();  // the sweep
  EXPECT_TRUE(host().logged("[sync] desk back - desk is the source of truth, re-seeding LV1"));
  for (int ch = 0; ch < 8; ++ch) {
    auto g = gain_reports(ch);
    ASSERT_EQ(g.size(), 1u) << ch;  // the same value as before, reported again as a first value
    EXPECT_DOUBLE_EQ(g[0].db, 2.5 * ch);
  }
  EXPECT_TRUE(sends("send_").empty());
}

// A desk that stopped answering and then answers everything it held at once (replies to reads
// that timed out long ago, carrying a value changed at the desk meanwhile): none of it reaches
// LV1 before the desk-back decision. LV1 as the source of truth keeps LV1's value and sends it;
// the desk as the source of truth takes the desk's value through the fresh re-seed, once.
TEST_F(WatcherTest, WhatAFrozenDeskSaysWaitsForTheDeskBackDecision) {
  for (bool lv1_wins : {true, false}) {
    SCOPED_TRACE(lv1_wins ? "resync=lv1" : "resync=desk");
    seed_all();
    host().gain_object.gain[0] = 12.0;  // LV1's value of LCL 1
    settings().resync_lv1.store(lv1_wins);
    desk().set_link(false);
    run_for(6500);
    EXPECT_TRUE(host().logged(
        "[sync] the desk is not answering - its values are held back until the desk-back decision"));
    desk().set_input("LCL", 1, FakeInput{40.0});  // moved at the desk while it did not answer
    desk().push("LCL", 1, "g", 40.0, 0);
    desk().set_link(true);
    desk().push("LCL", 1, "g", 40.0, 0);  // the flood, just before the watcher's pass
    host().clear();
    desk().clear_calls();
    pass();  // desk back
    EXPECT_TRUE(gain_reports(0).empty()) << "a desk value reached LV1 before the decision";
    if (lv1_wins) {
      EXPECT_EQ(sends("send_gain LCL 1 12.00").size(), 1u);
      run_for(1000);
      for (const FakeReport& r : gain_reports(0))
        EXPECT_DOUBLE_EQ(r.db, 12.0) << "LV1's value was overwritten";
      EXPECT_EQ(desk().input("LCL", 1).gain, 12.0);
    } else {
      pass();  // the re-seed
      auto g = gain_reports(0);
      ASSERT_EQ(g.size(), 1u);
      EXPECT_DOUBLE_EQ(g[0].db, 40.0);
      EXPECT_TRUE(sends("send_").empty());
    }
    EXPECT_TRUE(host().logged("[sync] desk values are taken again"));
    // After the decision the desk's own moves are LV1's again.
    host().clear();
    desk().set_input("LCL", 2, FakeInput{33.0});
    desk().push("LCL", 2, "g", 33.0, 0);
    pass();
    auto g = gain_reports(1);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_DOUBLE_EQ(g[0].db, 33.0);
    desk().set_input("LCL", 1, FakeInput{0.0});
    desk().set_input("LCL", 2, FakeInput{2.5});
  }
}

// LV1's writes the desk could not take at once go out at the watcher's next pass.
TEST_F(WatcherTest, DeferredWritesGoOutAtTheNextPass) {
  seed_all();
  desk().fail("send_gain");
  EXPECT_EQ(bridge_set_gain(2, 17.5), WriteOutcome::deferred);
  pass();
  EXPECT_EQ(sends("send_gain LCL 3 17.50").size(), 2u)
      << "LV1's try, then the pass's: the desk still refuses";
  desk().fail("send_gain", false);
  pass();
  EXPECT_EQ(sends("send_gain LCL 3 17.50").size(), 3u);
  EXPECT_EQ(desk().input("LCL", 3).gain, 17.5);
  pass();
  EXPECT_EQ(sends("send_gain LCL 3").size(), 3u) << "sent once";
}

// While LV1's value waits to be sent, the desk's older value read by a sweep is not put on LV1's
// strip over it.
TEST_F(WatcherTest, ASweepDoesNotReportOverADeferredValue) {
  seed_all();
  desk().fail("send_gain");
  EXPECT_EQ(bridge_set_gain(2, 17.5), WriteOutcome::deferred);
  run_for(400);                                // past the echo window
  desk().set_input("LCL", 3, FakeInput{8.0});  // what the desk holds, LV1's value not there yet
  want(watcher_flags().reseed_wanted);
  pass();
  EXPECT_TRUE(gain_reports(2).empty()) << "the desk's 8.0 dB was reported over LV1's 17.5";
  EXPECT_DOUBLE_EQ(block->gain_db[2], 17.5) << "the status block shows the value on its way";
  desk().fail("send_gain", false);
  pass();
  EXPECT_EQ(desk().input("LCL", 3).gain, 17.5);
}

TEST_F(WatcherTest, ShortDropoutIsNotADeskBack) {
  seed_all();
  desk().set_link(false);
  run_for(3000);
  desk().set_link(true);
  pass();
  EXPECT_FALSE(host().logged("[sync] desk back"));
}

// ---- identity re-check ------------------------------------------------------------------------

TEST_F(WatcherTest, AnotherConsoleAtTheAddressIsDroppedWithNothingWritten) {
  seed_all();
  settings().resync_lv1.store(true);  // even when LV1's values would be replayed on the way back
  desk().set_link(false);
  run_for(6500);
  EXPECT_TRUE(identity_check_pending());
  EXPECT_EQ(bridge_set_gain(0, 3.0), WriteOutcome::link_down);
  mailbox_put_gain(1, 44.0);  // a value from the desk that was ours
  desk().set_link(true);
  // The fake answers discovery as S0000; the desk we took says it is S1234.
  DeskAnswer me{};
  std::strcpy(me.ip, "127.0.0.1");
  std::strcpy(me.name, "Stage");
  std::strcpy(me.id, "S1234");
  desk_reset();
  use_desk(me);
  desk().clear_calls();
  pass();
  EXPECT_TRUE(host().logged("[refind] ANOTHER console answers at 127.0.0.1 now"));
  EXPECT_EQ(desk().disconnects(), 1);
  EXPECT_TRUE(sends("send_").empty());
  EXPECT_TRUE(gain_reports(1).empty());
  EXPECT_EQ(status_address().state, 1u);
  EXPECT_FALSE(host().logged("[sync] desk back"));
  run_for(200);  // nothing is read from it or written to it later either
  EXPECT_TRUE(sends("send_").empty());
  EXPECT_TRUE(desk().calls_of("read_gain").empty());
}

TEST_F(WatcherTest, IdentityFlagClearsEvenWithNoIdToLookFor) {
  seed_all();
  DeskAnswer unchecked{};
  std::strcpy(unchecked.ip, "127.0.0.1");  // connected unchecked: no id at all
  desk_reset();
  use_desk(unchecked);
  desk().set_link(false);
  pass();
  ASSERT_TRUE(identity_check_pending());
  desk().set_link(true);
  desk().clear_calls();
  pass();
  EXPECT_FALSE(identity_check_pending());
  EXPECT_TRUE(desk().calls_of("discover").empty());
  EXPECT_EQ(bridge_set_gain(0, 3.0), WriteOutcome::sent);
}

TEST_F(WatcherTest, SameConsoleAfterAReconnectCarriesOnSilently) {
  seed_all();
  desk().set_link(false);
  pass();
  desk().set_link(true);
  host().clear();
  pass();
  EXPECT_FALSE(host().logged("[refind]"));
  EXPECT_EQ(desk().calls_of("discover 127.0.0.1").size(), 1u);
  EXPECT_EQ(bridge_set_gain(0, 3.0), WriteOutcome::sent);
}

// ---- desk switch ------------------------------------------------------------------------------

TEST_F(WatcherTest, HandedOverDeskIsTakenAndAnAddressMoveCounted) {
  DeskAnswer moved{};
  std::strcpy(moved.ip, "127.0.0.9");
  std::strcpy(moved.id, "S0000");
  watcher_hand_over_desk(moved);
  pass();
  EXPECT_EQ(desk().calls_of("connect 127.0.0.9").size(), 1u);
  EXPECT_EQ(status_address().moves, 1u);
  EXPECT_STREQ(desk_identity().ip, "127.0.0.9");
}

TEST_F(WatcherTest, StuckOldLinkRefusesTheSwitch) {
  desk().stick_on_disconnect(true);
  DeskAnswer moved{};
  std::strcpy(moved.ip, "127.0.0.9");
  watcher_hand_over_desk(moved);
  pass();
  EXPECT_TRUE(host().logged("did not stop in time - NOT moving to 127.0.0.9 until LV1 restarts"));
  EXPECT_TRUE(desk().calls_of("connect 127.0.0.9").empty());
}

// ---- schedules --------------------------------------------------------------------------------

int g_full_reads = 0;
bool g_cut_short = false;
int g_names = 0;
int g_stereo = 0;

TEST_F(WatcherTest, PatchNamesStereoAndPublishSchedules) {
  g_full_reads = g_names = g_stereo = 0;
  g_cut_short = false;
  watcher_patch_reads().read_all = [] {
    ++g_full_reads;
    return !g_cut_short;
  };
  watcher_patch_reads().read_names = [] { ++g_names; };
  watcher_patch_reads().read_stereo = [] { ++g_stereo; };
  run_for(61000);
  EXPECT_EQ(g_full_reads, 2);  // every 30 s once the patch is read
  EXPECT_EQ(g_stereo, 6);      // every 10 s
  EXPECT_EQ(g_names, 0);       // nothing asked for, 120 s not reached
  want(watcher_flags().names_wanted);
  pass();
  EXPECT_EQ(g_names, 1);
  want(watcher_flags().names_wanted);
  pass();
  EXPECT_EQ(g_names, 1);  // not 3 s since the last names read: kept for later
  run_for(3100);
  EXPECT_EQ(g_names, 2);

  g_full_reads = 0;
  g_cut_short = true;  // a dashboard command cut the read short: asked again at the next pass
  want(watcher_flags().patch_wanted);
  pass();
  pass();
  EXPECT_EQ(g_full_reads, 2);
  g_cut_short = false;
  pass();
  pass();
  EXPECT_EQ(g_full_reads, 3);

  // Published every 50 ms or more: the mark is rewritten only then.
  block->publish_mark = 0;
  pass(20);
  pass(20);
  int marks = block->publish_mark;
  block->publish_mark = 0;
  pass(20);
  EXPECT_EQ(marks + static_cast<int>(block->publish_mark), 1);
}

TEST_F(WatcherTest, RepatchBitsReadOnlyThoseChannelsAndAFailureAsksForAFullRead) {
  static std::vector<std::uint32_t> read;
  read.clear();
  watcher_patch_reads().read_one = [](std::uint32_t ch) {
    read.push_back(ch);
    return ch == 3 ? -1 : 1;
  };
  mask_set(watcher_flags().repatch_bits, 1);
  pass();
  EXPECT_EQ(read, std::vector<std::uint32_t>{1});
  EXPECT_TRUE(host().logged("[patch] 1 channel(s) re-patched (from a desk push)"));

  read.clear();
  mask_set(watcher_flags().repatch_bits, 3);
  mask_set(watcher_flags().repatch_bits, 5);
  watcher_flags().patch_wanted.store(0);
  watcher_patch_reads().read_all = [] { return true; };
  clock.advance(1);
  watcher_pass(*w);
  EXPECT_EQ(read, std::vector<std::uint32_t>{3});  // 5 waits for the full read
}

TEST_F(WatcherTest, RevalidationReportsForcedAndRebuildsTheStrip) {
  mask_set(watcher_flags().revalidate_bits, 2);
  pass();
  auto g = gain_reports(2);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0].forced, 1u);
  ASSERT_EQ(phantom_reports(2).size(), 1u);
  EXPECT_EQ(phantom_reports(2)[0].forced, 1u);
  EXPECT_EQ(host().rebuilds(), std::vector<std::int32_t>{2});
}

// LV1 moves the channel while the desk answers the re-read: the answer was made before LV1's write
// reached the desk, so reporting it (forced) would put the old value back on LV1's strip.
struct MidReadCase {
  const char* name;
  const char* read;  // the read during which LV1 writes
  bool lv1_writes_gain;
  bool gain_reported, phantom_reported;
};

class RevalidationDuringAWrite : public WatcherTest,
                                 public ::testing::WithParamInterface<MidReadCase> {};

TEST_P(RevalidationDuringAWrite, TheOlderAnswerNeverOverwritesLv1) {
  const MidReadCase& c = GetParam();
  const int ch = 2;  // LCL 3: gain 5.0, 48 V off at the desk
  watcher_flags().seeding_done.store(1);
  bool inside = false;
  desk().on_call([&](const std::string& call) {
    if (inside || call != c.read) return;
    inside = true;
    const WriteOutcome sent =
        c.lv1_writes_gain ? bridge_set_gain(ch, 30.0) : bridge_set_phantom(ch, true);
    EXPECT_EQ(sent, WriteOutcome::sent);
    FakeInput before = desk().input("LCL", 3);  // the desk's answer predates the write
    before.gain = 5.0;
    before.phantom = false;
    desk().set_input("LCL", 3, before);
  });
  mask_set(watcher_flags().revalidate_bits, ch);
  pass();
  desk().on_call(nullptr);
  EXPECT_EQ(gain_reports(ch).size(), c.gain_reported ? 1u : 0u) << c.name;
  EXPECT_EQ(phantom_reports(ch).size(), c.phantom_reported ? 1u : 0u) << c.name;
  if (c.lv1_writes_gain)
    EXPECT_DOUBLE_EQ(block->gain_db[ch], 30.0) << c.name;
  else
    EXPECT_EQ(block->phantom[ch], 1) << c.name;
  EXPECT_EQ(host().rebuilds(), std::vector<std::int32_t>{ch}) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, RevalidationDuringAWrite,
    ::testing::Values(
        MidReadCase{"gain moved during the gain read", "read_gain LCL 3", true, false, true},
        MidReadCase{"48 V switched during the 48 V read", "read_phantom LCL 3", false, true, false},
        MidReadCase{"48 V switched during the gain read", "read_gain LCL 3", false, true, false},
        MidReadCase{"gain moved during the 48 V read: the gain was read before",
                    "read_phantom LCL 3", true, true, true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace ks
