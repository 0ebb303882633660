// Lookups into the status block: channels by source, group labels and ranges, labels, and the
// texts read from fields that may arrive without their terminator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tray/services/text_utils.h"
#include "tray/ui/lookups.h"
#include "tray/ui/tests/support/bridge_fixture.h"

namespace ks::tray {
namespace {

TEST(Lookups, FindChannelNeedsAHeadAmpAndMatchesGroupsInAnyCase) {
  test::BridgeFixture f;
  f.patch(3, "usb", 4, false);
  f.patch(5, "a", 2);
  EXPECT_EQ(find_channel(&f.b(), "LCL", 1), 0);
  EXPECT_EQ(find_channel(&f.b(), "USB", 4), -1);  // a return is never found
  EXPECT_EQ(find_channel(&f.b(), "A", 2), 5);
  f.patch(7, "B", 1);
  f.b().watch_count = 7;  // beyond the watched range
  EXPECT_EQ(find_channel(&f.b(), "B", 1), -1);
  f.b().watch_count = 0;
  EXPECT_EQ(find_channel(&f.b(), "LCL", 1), -1);
  EXPECT_EQ(find_channel(nullptr, "LCL", 1), -1);
  f.b().watch_count = 1000;  // held at 64
  EXPECT_EQ(find_channel(&f.b(), "B", 1), 7);
}

TEST(Lookups, GroupLabels) {
  const struct {
    const char* code;
    const char16_t* label;
  } cases[] = {{"LCL", u"local XLR"},
               {"lcl", u"local XLR"},
               {"Aux", u"aux inputs"},
               {"A", u"AES50 A stagebox"},
               {"b", u"AES50 B stagebox"},
               {"C", u"AES50 C stagebox"},
               {"SC", u"StageConnect"},
               {"USB", u"USB return"},
               {"CRD", u"expansion card"},
               {"MOD", u"module slot"},
               {"OFF", u""},
               {"", u""}};
  for (const auto& c : cases) EXPECT_EQ(std::u16string(group_label(c.code)), c.label) << c.code;
}

TEST(Lookups, GroupRangeAndTheStepBothButtonsUse) {
  test::BridgeFixture f;
  GainRange r = group_record(&f.b(), "A");
  EXPECT_DOUBLE_EQ(r.min, -3);  // the watched bank's range while A has none
  EXPECT_DOUBLE_EQ(r.step, 0.5);
  f.range("LCL", 0, 60, 1.0);
  f.range("a", -6, 30, 0.0);
  f.range("A", 1, 2, 3);  // a later record of the same bank is not used
  r = group_record(&f.b(), "A");
  EXPECT_DOUBLE_EQ(r.min, -6);
  EXPECT_DOUBLE_EQ(r.max, 30);
  EXPECT_DOUBLE_EQ(r.step, 0.0);
  f.patch(2, "A", 1);
  EXPECT_DOUBLE_EQ(channel_gain_range(&f.b(), 2).step, 0.5);  // a zero step moves by 0.5 dB
  f.b().ranges[1].step = std::numeric_limits<double>::quiet_NaN();
  EXPECT_DOUBLE_EQ(channel_gain_range(&f.b(), 2).step, 0.5);
  EXPECT_DOUBLE_EQ(channel_gain_range(&f.b(), 0).step, 1.0);
  f.b().range_count = 200;  // only the first 8 records exist
  EXPECT_DOUBLE_EQ(group_record(&f.b(), "LCL").max, 60);
}

TEST(Lookups, ChannelLabelsAndNames) {
  test::BridgeFixture f;
  f.patch(4, "LCL", 12);
  EXPECT_EQ(channel_label(&f.b(), 4), u"05  LCL 12");
  std::memcpy(f.b().channel_name[4], "Kick In", 8);
  EXPECT_EQ(channel_label(&f.b(), 4), u"05  Kick In");
  // A name that fills its 20 bytes without a terminator reads 20 characters, no more.
  std::memset(f.b().channel_name[5], 'N', kChannelNameBytes);
  std::memset(f.b().channel_name[6], 'X', kChannelNameBytes);
  EXPECT_EQ(channel_name(&f.b(), 5), std::u16string(20, u'N'));
  f.b().version = 3;  // names came with layout 4
  EXPECT_EQ(channel_label(&f.b(), 4), u"05  LCL 12");
  // A bank without a terminator reads its 8 bytes.
  std::memset(f.b().src_bank[7], 'Z', kBankBytes);
  EXPECT_EQ(source_label(&f.b(), 7), u"ZZZZZZZZ 8");
  f.patch(1, "off", 3);
  EXPECT_EQ(source_label(&f.b(), 1), u"not patched");
  f.patch(1, "LCL", 0);
  EXPECT_EQ(source_label(&f.b(), 1), u"not patched");
}

TEST(Lookups, NumbersPrintWithAMinusSign) {
  EXPECT_EQ(db_text(-3.25), u"\u22123.2");
  EXPECT_EQ(db_text(-0.5, 2), u"\u22120.50");
  EXPECT_EQ(db_text(12.0), u"12.0");
  EXPECT_EQ(db_text(-0.01), u"0.0");  // no sign in front of a zero
  EXPECT_EQ(db_text(std::nan("")), u"0.0");
  EXPECT_EQ(clean_db(std::nan("")), kNoLevelDb);
  EXPECT_EQ(clean_db(-1e9), kNoLevelDb);
  EXPECT_EQ(clean_db(99), 20.0);
}

TEST(Lookups, InputRowsOfAPair) {
  test::BridgeFixture f;
  f.b().phantom[2] = 1;
  f.b().is_protected[3] = 1;
  std::memcpy(f.b().channel_name[2], "Gtr", 4);
  InputRow odd = read_input_row(&f.b(), "LCL", 3), even = read_input_row(&f.b(), "LCL", 4);
  EXPECT_EQ(odd.channel, 2);
  EXPECT_EQ(odd.name, u"Gtr");
  EXPECT_EQ(odd.phantom, 1);
  EXPECT_EQ(even.name, u"LCL 4");  // no name: the label
  EXPECT_EQ(even.is_protected, 1);
  f.b().version = 8;  // protect flags came with layout 9
  EXPECT_EQ(read_input_row(&f.b(), "LCL", 4).is_protected, 0);
  InputRow none = read_input_row(&f.b(), "A", 9);
  EXPECT_EQ(none.found, 0);
  EXPECT_EQ(none.gain, 0);
}

TEST(Lookups, ConsoleChoicesFromThePageModel) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(
      R"({"list":[{"name":"WING Rack","card":"WSG","beta":true},{"name":"X","beta":"true"}]})", v));
  std::vector<ConsoleChoice> list;
  read_console_choices(list, v);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, u"WING Rack");
  EXPECT_TRUE(list[0].beta);
  EXPECT_FALSE(list[1].beta);  // the string "true" is not true
  JsonValue other;
  ASSERT_TRUE(parsed_then_blank(R"([{"list":[]}])", other));
  read_console_choices(list, other);
  EXPECT_EQ(list.size(), 2u);
}

}  // namespace
}  // namespace ks::tray
