// End to end: faults inside LV1's own objects. Every call the loader makes into LV1 is guarded:
// an access violation or a raised exception is swallowed and logged, and LV1 carries on.
#include <gtest/gtest.h>

#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"

namespace ks::sim {
namespace {

std::string card(const char* listener, const char* host) {
  return std::string("factory \"$BUNDLE\"\nbox b 11 2\nlistener b ") + listener +
         "\nquery b WavesIOBoxGain g\nquery b WavesIOBoxWavesConsoleIO io\nhost io " + host +
         "\nmac b 0a1b2c3d4e5f\ncallback g\n";
}

TEST(LoaderFaults, AFaultOrARaiseInLv1sListenerIsSwallowedAndLogged) {
  struct Case {
    const char* kind;
    bool access_violation;
  } cases[] = {{"fault", true}, {"raise", false}};
  for (const Case& c : cases) {
    Scenario s(std::string("listener-") + c.kind);
    RunResult r = s.run(card(c.kind, "plain") + "gain g 1 3\nsleep 800\ngain g 1 4\nsleep 800\n");
    ASSERT_TRUE(r.finished()) << c.kind << " exit " << r.exit_code;
    // Two bursts, two notices: the notifier thread survived the first fault.
    EXPECT_EQ(r.journal.count("listener b device_state_changed mac="), 2) << c.kind;
    EXPECT_EQ(r.journal.count("device_state_changed returned"), 0) << c.kind;
    const std::string wing = s.log(1), loader = s.log(0);
    EXPECT_EQ(occurrences(wing, "[chunk] telling LV1 the device state changed faulted\n"), 2)
        << c.kind;
    if (c.access_violation) {
      EXPECT_NE(loader.find("!! ACCESS VIOLATION #1 at lv1sim.exe+0x"), std::string::npos)
          << loader;
      EXPECT_NE(loader.find("!! ACCESS VIOLATION #2 at lv1sim.exe+0x"), std::string::npos);
      EXPECT_NE(loader.find("     #00 lv1sim.exe+0x"), std::string::npos);
      EXPECT_NE(loader.find("     #01 Kestrune.dll+0x"), std::string::npos);
    } else {
      EXPECT_EQ(loader.find("!! ACCESS VIOLATION"), std::string::npos);
    }
  }
}

TEST(LoaderFaults, AFaultInLv1sStripHostStopsThatStripOnly) {
  Scenario s("host-fault");
  RunResult r = s.run(card("plain", "fault") + "gain g 5 3\nsleep 300\ngain g 6 3\nsleep 800\n");
  ASSERT_TRUE(r.finished()) << r.exit_code;
  EXPECT_TRUE(r.journal.has("host io rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=5"));
  EXPECT_TRUE(r.journal.has("host io rebuild_strip mac=0a:1b:2c:3d:4e:5f ch=6"));
  const std::string wing = s.log(1);
  EXPECT_NE(wing.find("[redraw] asking LV1 to rebuild strip 5 faulted\n"), std::string::npos);
  EXPECT_NE(wing.find("[redraw] asking LV1 to rebuild strip 6 faulted\n"), std::string::npos);
  // The device-state notice still reaches LV1 after the redraw faults.
  EXPECT_TRUE(r.journal.has("listener b device_state_changed"));
}

}  // namespace
}  // namespace ks::sim
