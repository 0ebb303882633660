// End to end: LV1's gain and 48 V moves through the loader's gain objects, with no console module
// running: the caches, the device-state notice and the strip redraw.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"

namespace ks::sim {
namespace {

// One WING card as LV1 sets it up: listener, gain object, strip host, MAC, callback.
const std::string kWingCard = card_setup_script("box b 11 2") + "callback g\n";

TEST(LoaderValues, MovesWithinAHundredthOfADecibelAreDroppedAndBadValuesNeverCached) {
  Scenario s("values");
  RunResult r = s.run(std::string(kWingCard) +
                      "gain g 3 10\n"
                      "gain g 3 10.005\n"
                      "gain g 3 10.01\n"
                      "gain g 3 nan\n"
                      "gain g 3 inf\n"
                      "gain g 3 -inf\n"
                      "gain g 64 5\n"
                      "gain g -1 5\n"
                      "phantom g 3 1\n"
                      "phantom g 3 7\n"
                      "phantom g 64 1\n"
                      "read g 3\n"
                      "read g 64\n");
  ASSERT_TRUE(r.finished());
  const std::string log = s.log(1);
  EXPECT_NE(log.find("  GOT gain_changed_callback="), std::string::npos);
  EXPECT_NE(log.find("  LV1 -> gain ch=3 10.0 dB via object #1 (was 0.0)\n"), std::string::npos);
  EXPECT_EQ(
      occurrences(log, "  LV1 -> gain ch=3 10.0 dB via object #1 [same as cached - not re-sent]\n"),
      1);
  EXPECT_NE(log.find("  LV1 -> gain ch=3 10.0 dB via object #1 (was 10.0)\n"),
            std::string::npos);  // the 0.01 move
  EXPECT_EQ(occurrences(log, "  SET gain ch=3 10.0 dB  [module not running - not sent]\n"), 2);
  EXPECT_EQ(occurrences(log, "[not a finite value - ignored]\n"), 3);
  EXPECT_EQ(occurrences(log, "ch=64"), 0);
  EXPECT_EQ(occurrences(log, "ch=-1"), 0);
  EXPECT_NE(log.find("  LV1 -> 48V ch=3 1 via object #1\n"), std::string::npos);
  EXPECT_NE(log.find("  SET 48V ch=3 1  [module not running - not sent]\n"), std::string::npos);
  // Any non-zero byte is "on": the second switch is the same value.
  EXPECT_NE(log.find("  LV1 -> 48V ch=3 1 via object #1 [same as cached - not re-sent]\n"),
            std::string::npos);
  // The cache holds the last finite move; ranges are the defaults while no module ever answered.
  EXPECT_TRUE(
      r.journal.has("read g ch=3 gain=10.01 48v=1 preamp=0 has48v=0 min=0.00 max=60.00 step=0.50"));
  EXPECT_TRUE(
      r.journal.has("read g ch=64 gain=0.00 48v=0 preamp=0 has48v=0 min=0.00 max=60.00 step=0.50"));
}

TEST(LoaderValues, OneDeviceStateNotice400msAfterTheLastMoveAndTheStripRedrawn) {
  Scenario s("notice");
  RunResult r = s.run(std::string(kWingCard) +
                      "gain g 3 1\nsleep 100\n"
                      "gain g 3 2\nsleep 100\n"
                      "phantom g 40 1\nsleep 100\n"
                      "gain g 3 4\n"
                      "sleep 1500\n");
  ASSERT_TRUE(r.finished());
  auto notices = r.journal.all("listener b device_state_changed mac=0a:1b:2c:3d:4e:5f");
  ASSERT_EQ(notices.size(), 1u);
  const JournalLine* last_move = r.journal.first("gain g ch=3 4");
  ASSERT_NE(last_move, nullptr);
  EXPECT_GE(notices[0]->ms - last_move->ms, 395.0);
  EXPECT_NE(notices[0]->thread, last_move->thread);  // the loader's notifier thread
  // Each moved strip is redrawn through LV1's host, off LV1's thread.
  const JournalLine* redraw3 =
      r.journal.first("host io rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=3 zero=0");
  const JournalLine* redraw40 =
      r.journal.first("host io rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=40 zero=0");
  ASSERT_NE(redraw3, nullptr);
  ASSERT_NE(redraw40, nullptr);
  EXPECT_NE(redraw3->thread, last_move->thread);
  EXPECT_EQ(r.journal.count("rebuild_strip"),
            r.journal.count("rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=3 ") +
                r.journal.count("rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=40 "));
}

// A real MAC gets one more device-state notice 20 s later, for LV1 to re-read a device that has
// settled; an offline one does not.
TEST(LoaderValues, ANoticeTwentySecondsAfterLv1HandsOverTheMac) {
  Scenario s("settle");
  RunResult r = s.run(
      "factory \"$BUNDLE\"\n"
      "box b 11 2\nlistener b plain\nmac b 0a1b2c3d4e5f\n"
      "box o 11 5\nlistener o plain\nmac o 000000000001\n"
      "sleep 21000\n");
  ASSERT_TRUE(r.finished());
  auto notices = r.journal.all("device_state_changed mac=");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0]->text.find("listener b "), std::string::npos);
  const JournalLine* mac = r.journal.first("mac b -> ");
  ASSERT_NE(mac, nullptr);
  EXPECT_GE(notices[0]->ms - mac->ms,
            20000.0 + 395.0);  // the 20 s, then the notifier's quiet 400 ms
}

TEST(LoaderValues, OnlyTheLiveCardOfATypeDrivesTheConsole) {
  Scenario s("live");
  RunResult r = s.run(
      "factory \"$BUNDLE\"\n"
      "box a 11 2\nquery a WavesIOBoxGain ga\nmac a 000000000000\ncallback ga\n"  // no MAC yet
      "box b 11 5\nquery b WavesIOBoxGain gb\nmac b 0a0000000001\ncallback gb\n"  // online: live
      "box c 11 2\nquery c WavesIOBoxGain gc\nmac c 000000000002\ncallback gc\n"  // offline
      "box x 11 3\nquery x WavesIOBoxGain gx\nmac x 0b0000000001\ncallback gx\n"  // the X32 type's
                                                                                  // own
      "gain ga 1 5\ngain gb 1 6\ngain gc 1 7\ngain gx 1 8\n"
      "release b\n"
      "gain ga 1 9\n"  // now a is live
      "read ga 1\nread gc 1\n");
  ASSERT_TRUE(r.finished());
  const std::string wing = s.log(1), x32 = s.log(2);
  EXPECT_NE(
      wing.find("LV1 -> gain ch=1 5.0 dB via object #1 [not the console's live card - ignored]\n"),
      std::string::npos);
  EXPECT_NE(wing.find("LV1 -> gain ch=1 6.0 dB via object #2 (was 0.0)\n"), std::string::npos);
  EXPECT_NE(
      wing.find("LV1 -> gain ch=1 7.0 dB via object #3 [not the console's live card - ignored]\n"),
      std::string::npos);
  EXPECT_NE(x32.find("LV1 -> gain ch=1 8.0 dB via object #4 (was 0.0)\n"), std::string::npos);
  EXPECT_NE(wing.find("LV1 -> gain ch=1 9.0 dB via object #1 (was 0.0)\n"), std::string::npos);
  EXPECT_TRUE(r.journal.has("read ga ch=1 gain=9.00"));
  EXPECT_TRUE(r.journal.has("read gc ch=1 gain=0.00"));
}

TEST(LoaderValues, TheThreeLogsHaveOneTimeStampedLineEach) {
  Scenario s("logs");
  RunResult r = s.run(std::string(kWingCard) + "box x 11 0\ngain g 0 1\n");
  ASSERT_TRUE(r.finished());
  const std::regex line("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  \\S.*");
  for (int ch = 0; ch < 3; ++ch) {
    const std::string text = s.log(ch);
    ASSERT_FALSE(text.empty()) << ch;
    EXPECT_EQ(text.back(), '\n');
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) EXPECT_TRUE(std::regex_match(l, line)) << ch << ": " << l;
  }
  EXPECT_NE(s.log(2).find("[box] device box #2 created for device 11,0\n"), std::string::npos);
}

}  // namespace
}  // namespace ks::sim
