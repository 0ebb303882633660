// The WING driver's pure rules: identity fields, bank sizes, stage boxes, modes, the gain-range
// block and the node-hash table.
#include "desk/wing/wing_desk_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "desk/wing/tests/support/wing_test_support.h"
#include "desk/wing/wing_nodes.h"

namespace ks {
namespace {

TEST(WingRules, IdentityFields) {
  const char* line = "WING,192.0.2.7,FOH, left,wing-rack,S1234,3.1-0-g9f314617:rc2";
  char out[64];
  ASSERT_TRUE(identity_firmware(line, out, sizeof out));
  EXPECT_STREQ(out, "3.1-0-g9f314617") << "cut at the first ':'";
  ASSERT_TRUE(identity_field_from_end(line, 1, out, sizeof out));
  EXPECT_STREQ(out, "S1234");
  ASSERT_TRUE(identity_field_from_end(line, 2, out, sizeof out));
  EXPECT_STREQ(out, "wing-rack") << "a name holding a comma does not shift the fields";
  char small[5];
  ASSERT_TRUE(identity_field_from_end(line, 2, small, sizeof small));
  EXPECT_STREQ(small, "wing");
  EXPECT_FALSE(identity_field_from_end("no commas", 0, out, sizeof out));
  EXPECT_FALSE(identity_field_from_end("a,b", 2, out, sizeof out));
  EXPECT_FALSE(identity_field_from_end(nullptr, 0, out, sizeof out));
}

TEST(WingRules, BankSizes) {
  struct Case {
    const char* model;
    const char* bank;
    uint32_t n;
  };
  const Case cases[] = {
      {"wing-rack", "LCL", 24}, {"WING-COMPACT", "lcl", 24}, {"wing", "LCL", 8},
      {"wing", "AUX", 8},       {"Wing-Full", "AUX", 8},     {"wing-bk", "LCL", 8},
      {"wing-rack", "AUX", 0},  {"other", "AUX", 0},         {"other", "LCL", 24},
      {"wing", "A", 48},        {"wing", "SC", 32},          {"wing", "USR", 56},
      {"wing", "PLAY", 4},      {"wing", "AES", 2},          {"wing", "CRD", 64},
      {"wing", "NOPE", 0},      {nullptr, "MOD", 64},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wing_bank_size_for(c.model, c.bank), c.n)
        << (c.model ? c.model : "null") << " " << c.bank;
}

TEST(WingRules, StageBoxChannels) {
  struct Case {
    const char* names;
    uint32_t n;
  };
  const Case cases[] = {
      {"DL16,DL16", 32},      {"XDL16", 0xFFFFFFFFu},
      {"DL16X", 0xFFFFFFFFu}, {"DL32", 32},
      {"DL251 + SD8", 56},    {"DN4816", 0},
      {"", 0xFFFFFFFFu},      {"nothing known", 0xFFFFFFFFu},
      {"SD16", 16},           {"DL151", 24},
  };
  for (const Case& c : cases) EXPECT_EQ(wing_stagebox_channels(c.names), c.n) << c.names;
  EXPECT_EQ(wing_stagebox_channels(nullptr), 0xFFFFFFFFu);
}

TEST(WingRules, ModesAndStereoLead) {
  struct Case {
    const char* text;
    int n;
    bool ok;
    uint32_t mode;
  };
  const Case cases[] = {
      {"M", 1, true, 0},   {"M", 2, true, 0},   {"ST", 1, true, 1},
      {"ST", 2, true, 2},  {"M/S", 3, true, 3}, {"M/S", 4, true, 4},
      {"st", 1, false, 0}, {"", 1, false, 0},   {"MS", 1, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t m = 99;
    EXPECT_EQ(wing_mode_from_text(c.text, c.n, &m), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(m, c.mode) << c.text << " " << c.n;
    }
  }
  EXPECT_EQ(wing_stereo_lead(4, true), 3u);
  EXPECT_EQ(wing_stereo_lead(3, true), 3u);
  EXPECT_EQ(wing_stereo_lead(4, false), 4u);
  EXPECT_EQ(wing_stereo_lead(0, true), 0u);
}

std::vector<uint8_t> range_block(float mn, float mx, uint32_t count, uint8_t kind = 0x10) {
  std::vector<uint8_t> body(10, 0x01);
  for (uint8_t b :
       {uint8_t(1), uint8_t('g'), uint8_t(2), uint8_t('d'), uint8_t('B'), uint8_t(0), kind})
    body.push_back(b);
  auto be32 = [&body](uint32_t v) {
    for (int i = 3; i >= 0; --i) body.push_back(uint8_t(v >> (8 * i)));
  };
  uint32_t bits;
  std::memcpy(&bits, &mn, 4);
  be32(bits);
  std::memcpy(&bits, &mx, 4);
  be32(bits);
  be32(count);
  std::vector<uint8_t> block = {0xDF, uint8_t(body.size() >> 8), uint8_t(body.size())};
  block.insert(block.end(), body.begin(), body.end());
  return block;
}

TEST(WingRules, GainRangeBlock) {
  double mn = 0, mx = 0, st = 0;
  auto ok = range_block(-3.0f, 45.5f, 98);
  ASSERT_TRUE(parse_gain_range_block(ok.data(), ok.size(), &mn, &mx, &st));
  EXPECT_EQ(mn, -3.0);
  EXPECT_EQ(mx, 45.5);
  EXPECT_DOUBLE_EQ(st, 0.5);
  EXPECT_TRUE(
      parse_gain_range_block(range_block(0, 60, 121, 0x20).data(), ok.size(), &mn, &mx, &st));

  struct Bad {
    const char* what;
    std::vector<uint8_t> b;
  };
  const Bad bad[] = {
      {"one step only", range_block(0, 10, 1)},
      {"max below min", range_block(10, 0, 5)},
      {"wider than 200 dB", range_block(-100, 150, 5)},
      {"not numeric", range_block(0, 10, 5, 0x30)},
      {"NaN", range_block(NAN, 10, 5)},
  };
  for (const Bad& c : bad)
    EXPECT_FALSE(parse_gain_range_block(c.b.data(), c.b.size(), &mn, &mx, &st)) << c.what;
  // Cut short at every length: never read past the end.
  for (size_t n = 0; n < ok.size(); ++n) {
    std::vector<uint8_t> cut(ok.begin(), ok.begin() + n);
    EXPECT_FALSE(parse_gain_range_block(cut.data(), cut.size(), &mn, &mx, &st)) << n;
  }
  // Text lengths that run past the end.
  auto overrun = ok;
  overrun[13] = 250;
  EXPECT_FALSE(parse_gain_range_block(overrun.data(), overrun.size(), &mn, &mx, &st));
  overrun = ok;
  overrun[15] = 250;
  EXPECT_FALSE(parse_gain_range_block(overrun.data(), overrun.size(), &mn, &mx, &st));
}

TEST(WingRules, LeafTokensAndNames) {
  struct Case {
    const char* leaf;
    uint8_t token;
    bool ok;
  };
  const Case cases[] = {
      {"g", 0xD5, true},      {"g", 0xD4, false},   {"g", 0x01, false},    {"vph", 0x00, true},
      {"vph", 0x01, true},    {"vph", 0x02, false}, {"mute", 0xD5, false}, {"$mute", 0x3F, true},
      {"$mute", 0x40, false}, {"$ha", 0x03, true},  {"name", 0xE5, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(leaf_accepts_token(c.leaf, c.token), c.ok) << c.leaf << " " << int(c.token);

  EXPECT_TRUE(is_placeholder_name("PATCH"));
  EXPECT_TRUE(is_placeholder_name("PATCH 12"));
  EXPECT_FALSE(is_placeholder_name("PATCH A"));
  EXPECT_FALSE(is_placeholder_name("Kick"));
  EXPECT_TRUE(is_group_token("LCL"));
  EXPECT_TRUE(is_group_token("A"));
  EXPECT_FALSE(is_group_token(""));
  EXPECT_FALSE(is_group_token("TOOLONG"));
  EXPECT_FALSE(is_group_token("L-1"));
}

TEST(WingNodeTable, LearnAndLookUp) {
  NodeHashTable t;
  EXPECT_EQ(t.learn(0, "LCL", 1, "g"), LearnResult::kIgnored);
  EXPECT_EQ(t.learn(0x10, "LCL", 1, "g"), LearnResult::kAdded);
  EXPECT_EQ(t.learn(0x10, "A", 2, "vph"), LearnResult::kKnown) << "an existing hash is left alone";
  EXPECT_EQ(t.learn(0x11, "verylongbank", 2, "verylongleaf"), LearnResult::kAdded);
  EXPECT_EQ(t.lookup("lcl", 1, "G"), 0x10u) << "without case";
  EXPECT_EQ(t.lookup("LCL", 2, "g"), 0u);
  EXPECT_EQ(t.lookup("verylon", 2, "verylon"), 0x11u) << "names kept to 7 characters";
  ASSERT_NE(t.find(0x11), nullptr);
  EXPECT_STREQ(t.find(0x11)->bank, "verylon");
  EXPECT_EQ(t.find(0x12), nullptr);
}

TEST(WingNodeTable, FullTableIsReportedOnce) {
  test::DriverRecorder rec;
  // The driver's own table: fill it to the brim, then two more.
  uint32_t base = 0xF0000000u;
  for (uint32_t i = node_table().size(); i < kNodeHashCapacity; ++i)
    node_hash_learn(base + i, "T", i, "x");
  EXPECT_EQ(node_table().size(), kNodeHashCapacity);
  node_hash_learn(0xE0000001u, "LCL", 9, "g");
  node_hash_learn(0xE0000002u, nullptr, 10, nullptr);
  EXPECT_EQ(node_table().size(), kNodeHashCapacity);
  EXPECT_EQ(node_table().find(0xE0000001u), nullptr);
  EXPECT_EQ(
      rec.count_containing("[bin] node-hash table is FULL (4096) - LCL 9/g and every new leaf"), 1);
  EXPECT_EQ(rec.count_containing("FULL"), 1);
}

}  // namespace
}  // namespace ks
