// End to end: the LV1 stand-in loads the real Kestrune.dll, which loads Waves' stand-in from the
// three card bundles.
#include <gtest/gtest.h>

#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"

namespace ks::sim {
namespace {

TEST(LoaderFactory, WavesModulesGetTheirOwnBundlesAndLv1GetsOneInterface) {
  Scenario s("factory");
  RunResult r = s.run(
      "factory \"$BUNDLE\\\"\n"
      "factory \"C:\\elsewhere\"\n"
      "version\n"
      "version\n"
      "op0\n"
      "op2 1234\n");
  ASSERT_TRUE(r.finished()) << r.exit_code;
  const Journal& j = r.journal;
  EXPECT_TRUE(j.has("waves WING factory bundle=[" + s.module_root() +
                    "\\SoundGrid Wing Control.bundle] -> interface"));
  EXPECT_TRUE(j.has("waves XWSG factory bundle=[" + s.module_root() +
                    "\\SoundGrid X-WSG Control.bundle] -> interface"));
  EXPECT_TRUE(j.has("waves DN32 factory bundle=[" + s.module_root() +
                    "\\SoundGrid DN32-WSG Control.bundle] -> interface"));
  // Both factory calls return the same interface, and Waves' factories ran once.
  auto calls = j.all("factory -> ");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0]->text, calls[1]->text);
  EXPECT_EQ(calls[0]->text.find("0000000000000000"), std::string::npos);
  EXPECT_EQ(j.count("waves WING factory"), 1);
  // Waves' newest is 0x10007: ours is one above.
  EXPECT_EQ(j.count("module_version -> 10008"), 2);
  // op0 reaches every module and the last result comes back; op2 too, as every module got its
  // own bundle path.
  EXPECT_EQ(j.count(" op0 self=ok"), 3);
  EXPECT_TRUE(j.has("op0 -> e4"));  // DN32's answer: 0xA0 + 'D'
  EXPECT_EQ(j.count(" op2 self=ok arg=1234 -> 3234"), 3);
  EXPECT_TRUE(j.has("op2 1234 -> 3234"));

  const std::string log = s.log(0);
  EXPECT_NE(log.find("  ---- Kestrune loader attached (3.2.0) ----\n"), std::string::npos);
  EXPECT_NE(log.find("  [loader] LV1 opened " + s.bundle() + "\\\n"), std::string::npos);
  EXPECT_EQ(
      occurrences(log, ", with its own bundle path (its settings panel, ids and resources)\n"), 3);
  EXPECT_NE(log.find("  [loader] Kestrune 3.2.0 loader ready: WING yes, X32/M32 yes\n"),
            std::string::npos);
  // The version lines come once, on the first call only.
  EXPECT_EQ(occurrences(log, "[mod] SoundGrid X-WSG Control module version 10007\n"), 1);
  EXPECT_EQ(
      occurrences(log,
                  "[mod] module version -> 10008 (one above Waves' newest, so LV1 keeps ours)\n"),
      1);
}

TEST(LoaderFactory, ForeignOrHostileArgumentsReachWavesUnchanged) {
  struct Case {
    const char* arg;
    const char* waves_sees;  // what Waves' WING factory is given
  } cases[] = {
      {"\"C:\\Other\\Some.bundle\"", "bundle=[C:\\Other\\Some.bundle]"},
      {"\"C:\\Other\\xKestrune.bundle\"", "bundle=[C:\\Other\\xKestrune.bundle]"},
      {"-null", "bundle=[(null)]"},
      {"-long", "bundle=[C:\\xxxx"},
      {"-unreadable", "bundle=[(unreadable)]"},
  };
  for (const Case& c : cases) {
    Scenario s("foreign");
    RunResult r = s.run(std::string("factory ") + c.arg + "\n");
    ASSERT_TRUE(r.finished()) << c.arg;
    EXPECT_TRUE(r.journal.has(std::string("waves WING factory ") + c.waves_sees)) << c.arg;
    const std::string log = s.log(0);
    EXPECT_NE(
        log.find(
            "[loader] LV1's factory argument is not Kestrune.bundle's path - Waves' modules get it unchanged"),
        std::string::npos)
        << c.arg;
    EXPECT_EQ(occurrences(log, ", with LV1's argument\n"), 3) << c.arg;
  }
}

TEST(LoaderFactory, AModuleRefusingItsOwnBundleGetsLv1sArgument) {
  Scenario s("own-null");
  RunResult r = s.run("env KS_WAVES_XWSG_FACTORY own-null\nfactory \"$BUNDLE\"\nop2 5\n");
  ASSERT_TRUE(r.finished());
  EXPECT_TRUE(r.journal.has("waves XWSG factory bundle=[" + s.bundle() + "] -> interface"));
  // op2 goes to the one module that runs on LV1's own argument.
  EXPECT_EQ(r.journal.count(" op2 self=ok"), 1);
  EXPECT_TRUE(r.journal.has("waves XWSG op2 self=ok arg=5 -> 2005"));
  const std::string log = s.log(0);
  EXPECT_NE(log.find("SoundGrid X-WSG Control.dll loaded, with LV1's argument\n"),
            std::string::npos);
  EXPECT_EQ(occurrences(log, ", with its own bundle path"), 2);
}

TEST(LoaderFactory, MissingModulesAreNotAvailableAndTheirCardsRefused) {
  Scenario s("missing", {"SoundGrid DN32-WSG Control"});
  RunResult r = s.run(
      "factory \"$BUNDLE\"\n"
      "box w 11 2\n"
      "box x 11 0\n"
      "box d 11 4\n"
      "box unknown 11 7\n");
  ASSERT_TRUE(r.finished());
  const std::string log = s.log(0);
  EXPECT_NE(log.find("SoundGrid Wing Control.dll NOT available\n"), std::string::npos);
  EXPECT_NE(log.find("SoundGrid X-WSG Control.dll NOT available\n"), std::string::npos);
  EXPECT_NE(log.find("[loader] Kestrune 3.2.0 loader ready: WING no, X32/M32 yes\n"),
            std::string::npos);
  for (const char* dev : {"11,2", "11,0", "11,7"}) {
    EXPECT_NE(
        log.find(std::string("[box] device ") + dev + " is not a card Kestrune knows - refused\n"),
        std::string::npos)
        << dev;
    EXPECT_TRUE(r.journal.has(std::string(" ") + dev + " -> 0000000000000000")) << dev;
  }
  // The DN32-WSG still drives its X32 card.
  EXPECT_NE(s.log(2).find("[box] device box #1 created for device 11,4\n"), std::string::npos);
}

TEST(LoaderFactory, NoWavesModuleMeansNoInterfaceAndTheNextCallTriesAgain) {
  Scenario s("none", {});
  RunResult r = s.run("factory \"$BUNDLE\"\nfactory \"$BUNDLE\"\n");
  ASSERT_TRUE(r.finished());
  EXPECT_EQ(r.journal.count("factory -> 0000000000000000"), 2);
  EXPECT_EQ(occurrences(s.log(0), "[loader] no Waves module could be loaded - Kestrune is off\n"),
            2);
}

TEST(LoaderFactory, The65thBoxIsWavesOwn) {
  Scenario s("boxes65");
  std::string script = "factory \"$BUNDLE\"\n";
  for (int i = 0; i < 65; ++i)
    script += "box b" + std::to_string(i) + " 11 " + (i % 2 ? "2" : "3") + "\n";
  RunResult r = s.run(script);
  ASSERT_TRUE(r.finished());
  // Waves' box of the 65th request (an X-WSG box) reaches LV1 as it is.
  auto made = r.journal.all("create_device_box 11,");
  ASSERT_EQ(made.size(), 65u);
  const std::string& last = made.back()->text;
  const std::string waves_ptr = last.substr(last.rfind(' ') + 1);
  const JournalLine* got = r.journal.first("box b64 ");
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->text.substr(got->text.rfind(' ') + 1), waves_ptr);
  // Every earlier box is a wrapper.
  const JournalLine* first_made = made.front();
  const JournalLine* first_got = r.journal.first("box b0 ");
  EXPECT_NE(first_got->text.substr(first_got->text.rfind(' ') + 1),
            first_made->text.substr(first_made->text.rfind(' ') + 1));
  EXPECT_NE(
      s.log(0).find(
          "[box] more than 64 device boxes - device 11,3 gets Waves' box, no preamp control (restart LV1)\n"),
      std::string::npos);
  EXPECT_NE(s.log(1).find("[box] device box #64 created for device 11,2\n"), std::string::npos);
  EXPECT_NE(s.log(2).find("[box] device box #63 created for device 11,3\n"), std::string::npos);
}

}  // namespace
}  // namespace ks::sim
