// The patch reader over scripted desks: sources and head amps, card slots and the slot switch,
// ports, stereo pairs, names, the TCP lock, and answers that do not make sense.
#include "bridge/patch_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>
#include <memory>

#include "bridge/channel_model.h"
#include "bridge/control_ops.h"
#include "bridge/lifecycle.h"
#include "bridge/settings.h"
#include "bridge/status_block.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "bridge/watcher_flags.h"
#include "os/tests/support/manual_clock.h"

namespace ks {
namespace {

std::atomic<int> g_notified{0};
void count_notify() { g_notified++; }

FakeInput with_type(int32_t type, uint32_t mode = 0, const char* name = "") {
  FakeInput in;
  in.headamp_type = type;
  in.mode = mode;
  in.name = name;
  return in;
}

class PatchReader : public FrameworkTest {
protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    clock = std::make_unique<ManualClock>(1000, ManualClock::Mode::automatic);
    set_bridge_clock(clock.get());
    g_notified = 0;
    framework_hooks().notify_channel_types = count_notify;
    framework_hooks().control_op_waiting = control_op_waiting;
    settings().watch.store(8);
  }
  // MOD outputs 1..n from LCL 1..n, each with a head amp.
  void plain_desk(int n, const char* slot = "MOD", const char* bank = "LCL") {
    for (int i = 1; i <= n; ++i) {
      desk().route(slot, uint32_t(i), bank, uint32_t(i));
      desk().set_input(bank, uint32_t(i), with_type(3));
    }
  }
  std::unique_ptr<ManualClock> clock;
};

TEST_F(PatchReader, AFullReadFillsTheModel) {
  plain_desk(8);
  desk().set_input("LCL", 2, with_type(1));  // a type below 2: no head amp
  desk().set_range("LCL", 0, 60, 0.5);
  ASSERT_TRUE(patch_read_all());
  EXPECT_TRUE(patch_is_read());
  EXPECT_EQ(patch_read_tick(), 1000u);
  for (int ch = 0; ch < 8; ++ch) {
    ChannelRecord r = channel_record(ch);
    EXPECT_STREQ(r.bank, "LCL");
    EXPECT_EQ(r.input, uint32_t(ch + 1));
    EXPECT_EQ(r.has_head_amp, ch == 1 ? 0 : 1) << ch;
  }
  EXPECT_EQ(channel_record(8).input, 0u) << "channels past the watch count are not read";
  EXPECT_TRUE(host().logged("[patch] 8 channel(s) re-patched"));
  EXPECT_TRUE(host().logged("[ha] LCL: 1=3 2=1 3=3 4=3 5=3 6=3 7=3 8=3"));
  EXPECT_TRUE(
      host().logged("[range] LCL: 0.0 .. 60.0 dB, step 0.50 dB (from the node definition)"));
  EXPECT_TRUE(take(watcher_flags().reseed_wanted));
  EXPECT_TRUE(take(watcher_flags().names_wanted));
  EXPECT_EQ(mask_take(watcher_flags().revalidate_bits), 0xFFu);
  EXPECT_EQ(g_notified.load(), 1);

  host().clear();
  ASSERT_TRUE(patch_read_all());
  EXPECT_FALSE(host().logged("re-patched")) << "nothing changed";
  EXPECT_EQ(g_notified.load(), 1);
}

TEST_F(PatchReader, APatchChangeRereadsOnlyTheChannelThatMoved) {
  plain_desk(8);
  ASSERT_TRUE(patch_read_all());
  mask_take(watcher_flags().revalidate_bits);
  take(watcher_flags().reseed_wanted);
  FakeInput upper = with_type(3, kStereoUpper);
  upper.gain = 4.0;
  desk().set_input("A", 12, upper);
  desk().route("MOD", 3, "A", 12);
  desk().clear_calls();
  host().clear();
  ASSERT_TRUE(patch_read_all());
  EXPECT_TRUE(host().logged("[patch] 1 channel(s) re-patched"));
  EXPECT_EQ(mask_take(watcher_flags().revalidate_bits), 1u << 2);
  EXPECT_TRUE(take(watcher_flags().reseed_wanted));
  EXPECT_EQ(desk().calls_of("read_mode"), std::vector<std::string>{"read_mode A 12"});
  EXPECT_EQ(desk().calls_of("read_gain"), std::vector<std::string>{"read_gain A 12"})
      << "its parked gain";
  EXPECT_EQ(desk().calls_of("read_source").size(), 8u);
  ChannelRecord r = channel_record(2);
  EXPECT_STREQ(r.bank, "A");
  EXPECT_EQ(r.head_amp_input, 11u);
  EXPECT_DOUBLE_EQ(r.parked_gain, 4.0);
}

TEST_F(PatchReader, LinkDownReadsNothing) {
  plain_desk(8);
  desk().set_link(false);
  EXPECT_TRUE(patch_read_all());
  EXPECT_FALSE(patch_is_read());
  EXPECT_TRUE(desk().calls().empty());
}

TEST_F(PatchReader, ReadOneTable) {
  struct Row {
    const char* what;
    std::function<void()> arrange;
    int32_t result;
    bool head_amp;
  };
  const Row rows[] = {
      {"no answer", [this] { desk().fail("read_source"); }, -1, false},
      {"type 2", [this] { desk().set_input("A", 3, with_type(2)); }, 1, true},
      {"type 3", [this] { desk().set_input("A", 3, with_type(3)); }, 1, true},
      {"type 1", [this] { desk().set_input("A", 3, with_type(1)); }, 1, false},
      {"type unanswered", [this] { desk().fail("headamp_type"); }, 1, true},
      {"no type slot", [this] { desk().desc.headamp_type = nullptr; }, 1, true},
      {"not a preamp bank", [this] { desk().set_preamp_banks({"LCL"}); }, 1, false},
      {"beyond the stage box", [] { set_port_input_limit(port_index("A"), 2); }, 1, false},
      {"bank name that does not fit", [this] { desk().hostile_text(true); }, -1, false},
  };
  for (const Row& r : rows) {
    reset_framework();
    use_host();
    desk().route("MOD", 1, "A", 3);
    desk().set_input("A", 3, with_type(3));
    r.arrange();
    EXPECT_EQ(patch_read_one(0), r.result) << r.what;
    EXPECT_EQ(channel_record(0).has_head_amp != 0, r.head_amp) << r.what;
    if (r.result < 0) {
      EXPECT_EQ(channel_record(0).input, 0u) << r.what << ": record unchanged";
    }
  }
  EXPECT_EQ(patch_read_one(64), 0);
}

TEST_F(PatchReader, ASourceBeyondItsBankHasNoHeadAmp) {
  desk().desc.bank_size = [](const char*) -> uint32_t { return 8; };
  desk().route("MOD", 1, "LCL", 9);
  desk().set_input("LCL", 9, with_type(3));
  EXPECT_EQ(patch_read_one(0), 1);
  EXPECT_FALSE(channel_record(0).has_head_amp);
  EXPECT_TRUE(host().logged("[patch] LCL 9 is beyond the inputs of that bank"));
}

TEST_F(PatchReader, HeadAmpPresenceChangesOnTheSameSource) {
  desk().route("MOD", 1, "A", 3);
  desk().set_input("A", 3, with_type(3));
  ASSERT_EQ(patch_read_one(0), 1);
  mask_take(watcher_flags().revalidate_bits);
  desk().set_input("A", 3, with_type(2));
  EXPECT_EQ(patch_read_one(0), 0) << "a new type, the same presence";
  EXPECT_EQ(channel_record(0).head_amp_type, 2);
  desk().set_input("A", 3, with_type(0));
  EXPECT_EQ(patch_read_one(0), 1);
  EXPECT_TRUE(host().logged("[patch] A 3 head amp is now absent (desk reports type 0)"));
  EXPECT_EQ(mask_take(watcher_flags().revalidate_bits), 1u);
  desk().fail("headamp_type");
  EXPECT_EQ(patch_read_one(0), 0) << "an unanswered type changes nothing";
  EXPECT_FALSE(channel_record(0).has_head_amp);
}

TEST_F(PatchReader, ThreeFailuresInARowEndTheRead) {
  plain_desk(8);
  for (uint32_t n = 3; n <= 5; ++n) desk().fail_input("read_source", "MOD", n);
  ASSERT_TRUE(patch_read_all());
  EXPECT_EQ(desk().calls_of("read_source").size(), 5u);
  EXPECT_TRUE(patch_is_read()) << "two channels were read";
  EXPECT_EQ(channel_record(1).input, 2u);
  EXPECT_EQ(channel_record(5).input, 0u);
  EXPECT_TRUE(host().logged("[patch] 2 channel(s) re-patched"));
}

TEST_F(PatchReader, AWaitingCommandCutsTheReadShort) {
  plain_desk(8);
  auto block = std::make_unique<StatusBlock>();
  status_block_use_memory(block.get());
  // The tray posts a command while the third channel is being read.
  desk().on_call([&](const std::string& call) {
    if (call == "read_source MOD 3") block->ring.op[1].seq = 1;
  });
  EXPECT_FALSE(patch_read_all());
  EXPECT_TRUE(patch_is_read());
  EXPECT_EQ(desk().calls_of("read_source").size(), 3u);
  block->ring.op[1].done_seq = 1;  // served
  EXPECT_TRUE(patch_read_all());
  EXPECT_EQ(channel_record(7).input, 8u);
  status_block_use_memory(nullptr);
}

std::atomic<bool> g_release{false};
std::atomic<bool> g_stuck_alive{false};
void stuck_discovery() {
  g_stuck_alive = true;
  while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  g_stuck_alive = false;
}

TEST_F(PatchReader, AStopEndsTheReadAtTheNextChannel) {
  plain_desk(8);
  // A stop that cannot finish leaves `stopping` set while the watcher is still reading.
  g_release = false;
  framework_hooks().discovery_thread = stuck_discovery;
  set_framework_join_ms(10);
  framework_start();
  desk().on_call([](const std::string& call) {
    if (call == "read_source MOD 3") framework_shutdown();
  });
  patch_read_all();
  EXPECT_EQ(desk().calls_of("read_source").size(), 3u);
  size_t modes = desk().calls_of("read_mode").size();
  patch_read_names();
  patch_read_stereo();
  EXPECT_TRUE(desk().calls_of("read_name").empty());
  EXPECT_EQ(desk().calls_of("read_mode").size(), modes);
  g_release = true;
  while (g_stuck_alive.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(PatchReader, TheCardIsFoundInCrdAndEveryChannelIsReadAnew) {
  plain_desk(8, "MOD");
  plain_desk(8, "CRD", "A");
  desk().set_card_type("MOD", "none");
  desk().set_card_type("CRD", "WSG");
  ASSERT_TRUE(patch_read_all());
  EXPECT_TRUE(host().logged("[patch] card slots: MOD=none CRD=WSG"));
  EXPECT_TRUE(
      host().logged("[patch] the WSG card is in CRD - reading LV1's patch from CRD (was MOD)"));
  EXPECT_STREQ(settings().card.get(), "CRD");
  EXPECT_STREQ(channel_record(0).bank, "A");
  EXPECT_TRUE(host().logged("[patch] 8 channel(s) re-patched"));
  host().clear();
  patch_read_all();
  EXPECT_FALSE(host().logged("card slots")) << "the slots are looked at once";
}

TEST_F(PatchReader, CardLookEdgeCases) {
  plain_desk(8);
  // Both slots report a card: nothing moves.
  desk().set_card_type("MOD", "WSG");
  desk().set_card_type("CRD", "X-WSG");
  patch_read_all();
  EXPECT_STREQ(settings().card.get(), "MOD");
  EXPECT_FALSE(host().logged("the WSG card is in"));

  // No slot answers: asked again at each read, without a line.
  reset_framework();
  use_host();
  plain_desk(8);
  desk().fail("read_card_type");
  patch_read_all();
  patch_read_all();
  EXPECT_EQ(desk().calls_of("read_card_type").size(), 4u);
  EXPECT_FALSE(host().logged("card slots"));

  // A card text without its NUL is cut to the buffer.
  reset_framework();
  use_host();
  desk().set_card_type("MOD", "WSG");
  desk().set_card_type("CRD", "WSG");
  desk().hostile_text(true);
  patch_read_cards();
  EXPECT_TRUE(host().logged("[patch] card slots: MOD=XXXXXXXXXXXXXXX CRD=XXXXXXXXXXXXXXX"));
}

TEST_F(PatchReader, OneSwitchToTheSlotThatHasTheRouting) {
  for (uint32_t n = 1; n <= 8; ++n) desk().route("MOD", n, "OFF", 0);
  plain_desk(6, "CRD", "B");
  desk().desc.read_card_type = nullptr;
  ASSERT_TRUE(patch_read_all());
  EXPECT_TRUE(host().logged(
      "[patch] card MOD has no routed outputs; card CRD has 6 - reading LV1's patch from CRD"));
  EXPECT_STREQ(settings().card.get(), "CRD");
  EXPECT_STREQ(channel_record(0).bank, "B");
  // Routing lost later: never switches again.
  for (uint32_t n = 1; n <= 8; ++n) desk().route("CRD", n, "OFF", 0);
  plain_desk(8, "MOD", "C");
  host().clear();
  patch_read_all();
  EXPECT_STREQ(settings().card.get(), "CRD");
  EXPECT_FALSE(host().logged("reading LV1's patch from"));
}

TEST_F(PatchReader, NoSwitchOnceTheCardSlotIsKnownOrWhenNoSlotQualifies) {
  for (uint32_t n = 1; n <= 8; ++n) desk().route("MOD", n, "OFF", 0);
  patch_read_all();
  EXPECT_TRUE(
      host().logged("[patch] card MOD has no routed outputs, and no other card slot does either"));

  reset_framework();
  use_host();
  for (uint32_t n = 1; n <= 8; ++n) desk().route("MOD", n, "OFF", 0);
  plain_desk(6, "CRD", "B");
  desk().set_card_type("MOD", "WSG");
  desk().set_card_type("CRD", "");
  patch_read_all();
  EXPECT_STREQ(settings().card.get(), "MOD");
  EXPECT_FALSE(host().logged("no routed outputs"));
}

TEST_F(PatchReader, PortsAndStageBoxLimits) {
  desk().set_port("A", "SD16", 1, 16);
  desk().set_port("B", "", 0, 0xFFFFFFFFu);
  desk().route("MOD", 1, "A", 20);
  desk().set_input("A", 20, with_type(3));
  patch_read_all();
  EXPECT_TRUE(host().logged("[ports] A: SD16, HA remote on, known box"));
  EXPECT_TRUE(host().logged("[ports] A: 16 preamp input(s) on that box"));
  EXPECT_TRUE(host().logged("[ports] B: (nothing connected), HA remote OFF"));
  EXPECT_TRUE(host().logged("[ports] C: (no answer), HA remote ?"));
  EXPECT_TRUE(host().logged("[ports] SC: (no answer)"));
  EXPECT_EQ(port_input_limit(port_index("A")), 16);
  EXPECT_EQ(port_input_limit(port_index("B")), -1);
  EXPECT_FALSE(channel_record(0).has_head_amp) << "A 20 behind a box of 16";
}

TEST_F(PatchReader, ADriverWithoutCardPortAndLockSlots) {
  desk().desc.read_card_type = nullptr;
  desk().desc.read_port_devices = nullptr;
  desk().desc.read_port_remote = nullptr;
  desk().desc.stagebox_channels = nullptr;
  desk().desc.read_tcplock = nullptr;
  desk().desc.bank_size = nullptr;
  plain_desk(8);
  ASSERT_TRUE(patch_read_all());
  EXPECT_FALSE(host().logged("[ports]"));
  EXPECT_FALSE(host().logged("card slots"));
  EXPECT_FALSE(host().logged("TCP lock"));
  for (int p = 0; p < 4; ++p) EXPECT_EQ(port_input_limit(p), -1);
  EXPECT_TRUE(channel_record(7).has_head_amp);
}

TEST_F(PatchReader, TcpLockIsReportedOnlyWhenItChanges) {
  plain_desk(2);
  patch_read_all();
  EXPECT_FALSE(host().logged("TCP lock"));
  desk().set_tcplock(true);
  patch_read_all();
  patch_read_all();
  EXPECT_EQ(host().lines_with("refuse changes from the network (TCP lock)").size(), 1u);
  EXPECT_TRUE(tcp_lock.load());
  desk().set_tcplock(false);
  patch_read_all();
  EXPECT_TRUE(
      host().logged("[patch] the desk accepts changes from the network again (TCP lock off)"));
}

TEST_F(PatchReader, StereoUpperLegUsesThePartnersHeadAmpAndParksItsOwnGain) {
  desk().route("MOD", 1, "LCL", 5);
  desk().route("MOD", 2, "LCL", 6);
  desk().set_input("LCL", 5, with_type(3, kStereoLower));
  FakeInput upper = with_type(3, kStereoUpper);
  upper.gain = 7.5;
  desk().set_input("LCL", 6, upper);
  settings().watch.store(2);
  ASSERT_TRUE(patch_read_all());
  ChannelRecord r = channel_record(1);
  EXPECT_EQ(r.link_mode, kStereoUpper);
  EXPECT_EQ(r.head_amp_input, 5u);
  EXPECT_TRUE(r.parked_valid);
  EXPECT_DOUBLE_EQ(r.parked_gain, 7.5);
  EXPECT_TRUE(host().logged("[patch] LCL 6 is a stereo partner - head amp is LCL 5"));
  EXPECT_EQ(channel_gain_input(1), 5u);
  EXPECT_EQ(desk().calls_of("read_gain LCL 6").size(), 1u);
  // The same pair found again: the parked gain is not read again.
  patch_read_stereo();
  EXPECT_EQ(desk().calls_of("read_gain LCL 6").size(), 1u);
  // Unlinked at the desk: found by the stereo check.
  desk().set_input("LCL", 5, with_type(3));
  desk().set_input("LCL", 6, with_type(3));
  patch_read_stereo();
  EXPECT_TRUE(host().logged("[patch] 2 channel(s) changed stereo linking"));
  EXPECT_EQ(channel_record(1).head_amp_input, 6u);
  EXPECT_FALSE(channel_record(1).parked_valid);
}

TEST_F(PatchReader, ModeAnswersThatDoNotFitOrDoNotCome) {
  desk().route("MOD", 1, "LCL", 5);
  desk().set_input("LCL", 5, with_type(3, kStereoUpper));  // an upper leg on an odd input
  settings().watch.store(1);
  patch_read_all();
  EXPECT_EQ(channel_record(0).link_mode, kMono);
  EXPECT_EQ(channel_record(0).head_amp_input, 5u);
  EXPECT_TRUE(host().logged(
      "[patch] LCL 5: the desk reports mode 2, which does not fit that input - read as mono"));

  reset_framework();
  use_host();
  set_bridge_clock(clock.get());
  settings().watch.store(4);
  plain_desk(4);
  desk().fail("read_mode");
  patch_read_all();
  EXPECT_EQ(channel_record(0).link_mode, kMono);
  EXPECT_TRUE(take(watcher_flags().stereo_wanted))
      << "a failed mode read on a new source asks for a stereo check";
  // Three failed mode reads in a row leave every record as it was.
  ChannelRecord before = channel_record(0);
  before.link_mode = kStereoLower;
  channel_store(0, before);
  patch_read_stereo();
  EXPECT_EQ(channel_record(0).link_mode, kStereoLower);
  EXPECT_EQ(desk().calls_of("read_mode").size(), 4u + 3u);
}

TEST_F(PatchReader, ModeOfOneChannel) {
  plain_desk(2);
  patch_read_all();
  desk().set_input("LCL", 2, with_type(3, kMidSideUpper));
  patch_read_mode_one(1);
  EXPECT_EQ(channel_record(1).link_mode, kMidSideUpper);
  EXPECT_EQ(channel_record(1).head_amp_input, 1u);
  patch_read_mode_one(64);
  patch_read_mode_one(-1);
  desk().set_link(false);
  desk().clear_calls();
  patch_read_mode_one(1);
  EXPECT_TRUE(desk().calls().empty());
}

TEST_F(PatchReader, NamesArePublishedWholeOrNotAtAll) {
  plain_desk(4);
  desk().set_input("LCL", 1, with_type(3, 0, "Kick"));
  desk().set_input("LCL", 3, with_type(3, 0, "Snare"));
  patch_read_all();
  patch_read_names();
  EXPECT_STREQ(channel_name(0), "Kick");
  EXPECT_STREQ(channel_name(1), "");
  EXPECT_STREQ(channel_name(2), "Snare");
  EXPECT_TRUE(host().logged("[names] 2 of 8 channel(s) labelled"));

  host().clear();
  desk().fail("read_name");
  patch_read_names();
  EXPECT_STREQ(channel_name(0), "Kick") << "nothing published";
  EXPECT_FALSE(host().logged("[names]"));
  EXPECT_EQ(desk().calls_of("read_name").size(), 4u + 3u);

  desk().fail("read_name", false);
  desk().hostile_text(true);
  patch_read_names();
  EXPECT_EQ(std::strlen(channel_name(0)), 19u);
}

TEST_F(PatchReader, TheHeadAmpSummaryStaysWithinItsLine) {
  settings().watch.store(64);
  for (uint32_t n = 1; n <= 64; ++n) {
    desk().route("MOD", n, "LCL", 1000000 + n);
    desk().set_input("LCL", 1000000 + n, with_type(INT32_MIN));
  }
  patch_read_all();
  auto lines = host().lines_with("[ha] LCL:");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LT(lines[0].size(), 480u);
  EXPECT_GE(lines[0].size(), 440u);
  EXPECT_EQ(lines[0].find(" 1000001=-2147483648"), 9u);
  // Runs of another bank start a line of their own.
  reset_framework();
  use_host();
  settings().watch.store(3);
  desk().route("MOD", 1, "LCL", 1);
  desk().route("MOD", 2, "A", 1);
  desk().route("MOD", 3, "LCL", 2);
  patch_read_all();
  EXPECT_EQ(host().lines_with("[ha] "),
            (std::vector<std::string>{"[ha] LCL: 1=3", "[ha] A: 1=3", "[ha] LCL: 2=3"}));
}

}  // namespace
}  // namespace ks
