// End to end: session chunks. LV1 saves the live card's chunk with Kestrune's preamp values after
// Waves' text; Waves' module only ever sees its own text; stored values come back on decode.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sim/lv1/scenario/lv1_scenario.h"

namespace ks::sim {
namespace {

// A block as the script writes it (newlines as "\n" for the stand-in).
std::string block(const std::map<int, std::string>& gain, const std::map<int, int>& phantom,
                  const std::map<int, int>& preamp, int count = 64) {
  auto list = [&](auto& m, const std::string& none) {
    std::string s;
    for (int ch = 0; ch < count; ++ch) {
      if (ch) s += ", ";
      auto it = m.find(ch);
      if (it == m.end())
        s += none;
      else if constexpr (std::is_same_v<std::decay_t<decltype(it->second)>, std::string>)
        s += it->second;
      else
        s += std::to_string(it->second);
    }
    return s;
  };
  return "kestrune:\\n  gain: [" + list(gain, "0.00") + "]\\n  phantom: [" + list(phantom, "0") +
         "]\\n  preamp: [" + list(preamp, "0") + "]\\n";
}

const char* kTwoWingCards =
    "factory \"$BUNDLE\"\n"
    "box b 11 2\nquery b WavesIOBoxGain g\nmac b 0a1b2c3d4e5f\ncallback g\n"
    "box o 11 5\nquery o WavesIOBoxGain go\nmac o 0a1b2c3d4e60\ncallback go\n";

TEST(LoaderChunks, TheLiveCardSavesItsValuesAfterWavesText) {
  struct Case {
    const char* waves_chunk;  // KS_WAVES_WING_CHUNK
    const char* waves_part;   // what precedes the block in LV1's chunk
    size_t waves_bytes;
  } cases[] = {
      {"waves-state: 1\\n", "waves-state: 1\\n", 15},
      {"abc", "abc\\n", 3},  // a newline goes between Waves' text and the block
      {"(null)", "", 0},     // Waves put nothing: the block alone
  };
  for (const Case& c : cases) {
    Scenario s("save");
    RunResult r =
        s.run(std::string("env KS_WAVES_WING_CHUNK \"") + c.waves_chunk + "\"\n" + kTwoWingCards +
              "gain g 3 12.5\nphantom g 3 1\ngain g 63 -2.25\n"
              "chunk-get b\nchunk-get o\n");
    ASSERT_TRUE(r.finished()) << c.waves_chunk;
    auto puts = r.journal.all("sink put [");
    ASSERT_EQ(puts.size(), 2u);
    const std::string want =
        std::string(c.waves_part) + block({{3, "12.50"}, {63, "-2.25"}}, {{3, 1}}, {});
    EXPECT_EQ(puts[0]->text, "sink put [" + want + "]") << c.waves_chunk;
    // Not the live card: Waves' text as it is.
    const std::string plain = std::string(c.waves_chunk) == "(null)" ? "" : c.waves_chunk;
    EXPECT_EQ(puts[1]->text, "sink put [" + plain + "]");
    EXPECT_NE(s.log(1).find("[chunk] LV1 saved device box #1: Waves' " +
                            std::to_string(c.waves_bytes) + " bytes + Kestrune's preamp values\n"),
              std::string::npos);
    EXPECT_EQ(occurrences(s.log(1), "[chunk] LV1 saved device box #2"), 0);
  }
}

TEST(LoaderChunks, WavesSeesItsOwnTextAndTheValuesGoToTheLiveCardOnly) {
  const std::string stored = block({{2, "30.00"}}, {{2, 1}}, {{2, 1}});
  Scenario s("load");
  RunResult r = s.run(std::string(kTwoWingCards) + "box x 11 3\nmac x 000000000001\n" +
                      "chunk-set b \"waves-state: 2\\n" + stored + "\"\n" +
                      "chunk-set o \"waves-state: 3\\n" + stored + "\"\n" + "chunk-set x \"" +
                      stored + "\"\n" +
                      "chunk-set b \"waves-state: 4\\nkestrune:\\n  gain: [1.00, 2.00]\\n\"\n"
                      "chunk-set b -unreadable\n"
                      "read g 2\n");
  ASSERT_TRUE(r.finished());
  auto seen = r.journal.all("set_chunk self=");
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_NE(seen[0]->text.find("text=[waves-state: 2\\n]"), std::string::npos) << seen[0]->text;
  EXPECT_NE(seen[1]->text.find("text=[waves-state: 3\\n]"), std::string::npos);
  EXPECT_NE(seen[2]->text.find("text=[]"), std::string::npos);  // a chunk that is only the block
  EXPECT_NE(seen[3]->text.find("text=[waves-state: 4\\n]"), std::string::npos);
  EXPECT_NE(seen[4]->text.find("text=[(unreadable)]"),
            std::string::npos);  // passed on as LV1 gave it
  const std::string wing = s.log(1), x32 = s.log(2);
  EXPECT_NE(wing.find("[chunk] LV1 set_chunk: "), std::string::npos);
  EXPECT_NE(
      wing.find(
          "[chunk] session preamp values arrived while the wing module is not running - not applied\n"),
      std::string::npos);
  EXPECT_NE(
      wing.find(
          "[chunk] session preamp values for device box #2 not applied: not the console's live card\n"),
      std::string::npos);
  EXPECT_NE(
      x32.find(
          "[chunk] session preamp values for device box #3 not applied: an OFFLINE device in LV1\n"),
      std::string::npos);
  EXPECT_NE(wing.find("[chunk] device box #1: Kestrune's values in the chunk are unusable ("),
            std::string::npos);
  EXPECT_NE(
      wing.find("[chunk] device box #1: LV1's chunk is unreadable - handed to Waves as it is\n"),
      std::string::npos);
  // Loading a session does not change the caches.
  EXPECT_TRUE(r.journal.has("read g ch=2 gain=0.00 48v=0"));
}

TEST(LoaderChunks, DecodeFeedsLv1TheStoredValuesOfPreampChannels) {
  const std::string stored = "waves-state: 5\\n" + block({{2, "30.00"}, {5, "-4.50"}, {9, "7.00"}},
                                                         {{5, 1}, {9, 1}}, {{2, 1}, {5, 1}});
  struct Case {
    const char* answers;
    const char* sink;
    int gains, phantoms;
    const char* result;
  } cases[] = {
      {"WavesIOMChunkInfoSupport", "full", 2, 2, "-> d1"},
      {"WavesIOMChunkInfoSupport", "half", 2, 0, "-> d1"},
      {"", "full", 2, 2, "-> 0"},
  };
  for (const Case& c : cases) {
    Scenario s("decode");
    RunResult r =
        s.run(std::string("env KS_WAVES_WING_ANSWERS \"") + c.answers + "\"\n" + kTwoWingCards +
              "query b WavesIOMChunkInfoSupport info\nquery o WavesIOMChunkInfoSupport oinfo\n"
              "decode info \"" +
              stored + "\" " + c.sink +
              "\n"
              "decode oinfo \"" +
              stored + "\"\n");
    ASSERT_TRUE(r.finished()) << c.answers << c.sink;
    if (*c.answers) {
      const JournalLine* w = r.journal.first("decoder decode self=");
      ASSERT_NE(w, nullptr);
      EXPECT_NE(w->text.find("text=[waves-state: 5\\n] "), std::string::npos) << w->text;
      EXPECT_NE(w->text.find(" n=7"), std::string::npos);
    }
    EXPECT_EQ(r.journal.count("decode-sink gain"), c.gains) << c.sink;
    EXPECT_EQ(r.journal.count("decode-sink 48v"), c.phantoms) << c.sink;
    EXPECT_TRUE(r.journal.has("decode-sink gain mac=0a:1b:2c:3d:4e:5f ch=5 db=-4.50"));
    if (c.phantoms) {
      EXPECT_TRUE(r.journal.has("decode-sink 48v mac=0a:1b:2c:3d:4e:5f ch=5 on=1"));
    }
    EXPECT_FALSE(r.journal.has("ch=9"));  // no preamp there
    EXPECT_TRUE(r.journal.has(std::string("decode info ") + c.result));
    EXPECT_NE(s.log(1).find("[chunk] LV1 decodes: "), std::string::npos);
  }
}

TEST(LoaderChunks, SceneRecallWithoutAModuleAppliesNothing) {
  Scenario s("scene");
  RunResult r = s.run(
      std::string(kTwoWingCards) +
      "query b WavesChannelsChunkSupport ch\nquery o WavesChannelsChunkSupport och\n" +
      "scene ch 1,2,70 3 \"" + block({{2, "9.00"}}, {}, {{2, 1}}) + "\"\n" +
      "scene ch -null 64 \"waves only\"\n" + "scene och -null 64 \"" + block({}, {}, {}) + "\"\n");
  ASSERT_TRUE(r.finished());
  const std::string wing = s.log(1);
  EXPECT_NE(wing.find("[chunk] scene recall, inputs 1 2 70: "), std::string::npos);
  EXPECT_NE(wing.find("[chunk] scene recall: 0 of 3 channel(s) applied to the console\n"),
            std::string::npos);
  EXPECT_NE(
      wing.find(
          "[chunk] scene recall: the chunk has no Kestrune values (saved before Kestrune 3) - nothing to apply\n"),
      std::string::npos);
  EXPECT_NE(
      wing.find(
          "[chunk] scene recall for device box #2 not applied: not the console's live card\n"),
      std::string::npos);
}

}  // namespace
}  // namespace ks::sim
