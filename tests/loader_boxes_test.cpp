// End to end: device boxes. Every forwarded slot reaches Waves' box unchanged, the loader's own
// slots see what they need, and query_interface adds the loader's named objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"

namespace ks::sim {
namespace {

std::string last_word(const std::string& s) { return s.substr(s.rfind(' ') + 1); }

// The text after "slot K " of a journal line: "a=... b=... -> result".
std::string call_of(const std::string& line, int k) {
  const std::string key = "slot " + std::to_string(k) + " ";
  size_t at = line.find(key);
  if (at == std::string::npos) return {};
  std::string rest = line.substr(at + key.size());
  if (rest.rfind("self=", 0) == 0) rest = rest.substr(rest.find(' ') + 1);
  return rest;
}

TEST(LoaderBoxes, EveryForwardedSlotReachesWavesBoxUnchanged) {
  Scenario s("forward");
  RunResult r = s.run("factory \"$BUNDLE\"\nbox b 11 5\nforward b\nlistener b plain\n");
  ASSERT_TRUE(r.finished());
  const JournalLine* made = r.journal.first("waves WING create_device_box 11,5");
  ASSERT_NE(made, nullptr);
  const std::string inner = last_word(made->text);
  const std::string wrapper = last_word(r.journal.first("box b 11,5 -> ")->text);
  ASSERT_NE(inner, wrapper);

  const int forwarded[] = {1,  2,  3,  4,  5,  7,  9,  11, 15, 16, 17, 18, 19, 20,
                           21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33};
  for (int k : forwarded) {
    const JournalLine* sent = nullptr;
    const JournalLine* got = nullptr;
    for (const JournalLine& l : r.journal.lines) {
      if (l.text.rfind("lv1 slot " + std::to_string(k) + " ", 0) == 0) sent = &l;
      if (l.text.rfind("waves WING box1 slot " + std::to_string(k) + " ", 0) == 0) got = &l;
    }
    ASSERT_NE(sent, nullptr) << k;
    ASSERT_NE(got, nullptr) << "slot " << k << " never reached Waves' box";
    // Waves' box saw itself as the object, and every argument and the result (integer for even
    // slots, floating for odd ones) as LV1 passed or got them.
    EXPECT_NE(got->text.find("self=" + inner + " "), std::string::npos) << got->text;
    EXPECT_EQ(call_of(got->text, k), call_of(sent->text, k)) << "slot " << k;
  }
  // set_listener keeps the listener and passes the arguments LV1 adds, and Waves' result, through.
  const JournalLine* l = r.journal.first("waves WING box1 set_listener");
  ASSERT_NE(l, nullptr);
  EXPECT_NE(l->text.find("self=" + inner + " "), std::string::npos);
  EXPECT_NE(l->text.find(" x=abcdef0123 y=2.5"), std::string::npos);
  EXPECT_TRUE(r.journal.has("-> 601"));
}

TEST(LoaderBoxes, NamedInterfaces) {
  struct Case {
    const char* answers;  // what Waves' box answers itself
    const char* iface;
    bool loader_answers;  // LV1 gets an object of the loader's
    const char* log;
  } cases[] = {
      {"", "WavesIOBoxGain", true,
       "[box] device box #1: LV1 asked for WavesIOBoxGain - answered with Kestrune's\n"},
      {"WavesIOBoxGain", "WavesIOBoxGain", false,
       "[box] device box #1: the stock module answers WavesIOBoxGain itself - left alone\n"},
      {"", "WavesIOBoxWavesConsoleIO", true,
       "[box] device box #1: WavesIOBoxWavesConsoleIO answered (nothing supported) - lets Kestrune redraw strips\n"},
      {"WavesIOBoxWavesConsoleIO", "WavesIOBoxWavesConsoleIO", false,
       "[box] device box #1: LV1 asked for WavesIOBoxWavesConsoleIO - Waves' module provides it\n"},
      {"", "WavesChannelsChunkSupport", true,
       "[box] device box #1: LV1 asked for WavesChannelsChunkSupport - answered with Kestrune's\n"},
      {"", "WavesIOMChunkInfoSupport", true,
       "[box] device box #1: WavesIOMChunkInfoSupport wrapped (Waves' decoder + Kestrune's preamp values)\n"},
      {"WavesIOMChunkInfoSupport", "WavesIOMChunkInfoSupport", true,
       "[box] device box #1: WavesIOMChunkInfoSupport wrapped (Waves' decoder + Kestrune's preamp values)\n"},
      {"", "SomethingElse", false,
       "[box] device box #1: LV1 asked for SomethingElse - Waves' module has none\n"},
      {"SomethingElse", "SomethingElse", false,
       "[box] device box #1: LV1 asked for SomethingElse - Waves' module provides it\n"},
  };
  for (const Case& c : cases) {
    Scenario s("query");
    RunResult r = s.run(std::string("env KS_WAVES_WING_ANSWERS \"") + c.answers +
                        "\"\nfactory \"$BUNDLE\"\nbox b 11 2\nquery b " + c.iface + "\nquery b " +
                        c.iface + "\n");
    ASSERT_TRUE(r.finished()) << c.iface;
    auto waves = r.journal.all(std::string("query_interface self="));
    auto lv1 = r.journal.all(std::string("query b ") + c.iface + " -> ");
    ASSERT_EQ(waves.size(), 2u);
    ASSERT_EQ(lv1.size(), 2u);
    const std::string waves_answer = last_word(waves[0]->text), got = last_word(lv1[0]->text);
    if (c.loader_answers) {
      EXPECT_NE(got, waves_answer) << c.answers << " " << c.iface;
      EXPECT_NE(got, "0000000000000000") << c.iface;
    } else {
      EXPECT_EQ(got, waves_answer) << c.answers << " " << c.iface;
    }
    // Asked twice, LV1 gets the same object: one ConsoleIO stub per box keeps LV1's host.
    EXPECT_EQ(got, last_word(lv1[1]->text)) << c.iface;
    EXPECT_NE(s.log(1).find(c.log), std::string::npos) << s.log(1);
  }
}

TEST(LoaderBoxes, DeviceFactsFromLv1AreReadOnlyWhenReadable) {
  Scenario s("facts");
  RunResult r = s.run(
      "factory \"$BUNDLE\"\nbox b 11 2\n"
      "status b 000102030405060708090a0b0c0d0eff\n"
      "status b 000102030405060708090a0b0c0d0eff\n"
      "status b -unreadable\n"
      "up b \"FOH PC\" 3\n"
      "up b -unreadable\n"
      "mac b -unreadable\n"
      "mac b -null\n"
      "mac b 000000000000\n"
      "mac b 000000123456\n"
      "mac b 0a1b2c3d4e5f\n"
      "query b -unreadable\n"
      "release b\n");
  ASSERT_TRUE(r.finished());
  const std::string log = s.log(1);
  // A status is logged when it changes; every call still reaches Waves' box.
  EXPECT_EQ(
      occurrences(log,
                  "[box] device box #1 status: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e ff \n"),
      1);
  EXPECT_EQ(r.journal.count("waves WING box1 set_status"), 3);
  EXPECT_NE(
      log.find(
          "[box] device box #1 up: fw 2.1.0 / 1.4.7, owner \"FOH PC\", ownership 3 (this host \""),
      std::string::npos);
  EXPECT_NE(log.find("[box] device box #1 up (no info)\n"), std::string::npos);
  EXPECT_EQ(r.journal.count("waves WING box1 device_up"), 2);
  // No MAC, a null one or all zeros: forwarded only. 00:00:00:... is an offline device.
  EXPECT_EQ(r.journal.count("waves WING box1 set_mac"), 5);
  EXPECT_EQ(occurrences(log, "MAC "), 2);
  EXPECT_NE(
      log.find(
          "[box] device box #1: MAC 00:00:00:12:34:56 - an OFFLINE device in LV1: no preamps, no recall\n"),
      std::string::npos);
  EXPECT_NE(log.find("[box] device box #1: MAC 0a:1b:2c:3d:4e:5f (from LV1)\n"), std::string::npos);
  // Release reaches Waves and its result comes back.
  EXPECT_TRUE(r.journal.has("waves WING box1 release"));
  EXPECT_TRUE(r.journal.has("release b -> 5e1ea5e"));
  EXPECT_NE(log.find("[box] device box #1 released by LV1\n"), std::string::npos);
}

}  // namespace
}  // namespace ks::sim
