#include "loader/card_table.h"

#include <gtest/gtest.h>

#include <string>

namespace ks {
namespace {

TEST(BundleArgument, OwnBundleIsRecognisedInAnyCaseWithTrailingSeparators) {
  struct Case {
    std::string arg;
    bool own;
  } cases[] = {
      {"C:\\Waves\\SoundGrid IO Modules\\Kestrune.bundle", true},
      {"C:\\Waves\\SoundGrid IO Modules\\KESTRUNE.BUNDLE", true},
      {"C:\\Waves\\SoundGrid IO Modules\\kestrune.Bundle\\", true},
      {"C:/Waves/Kestrune.bundle//\\/", true},
      {"C:\\Waves\\xKestrune.bundle", false},  // no separator before the name
      {"C:\\Waves\\Kestrune.bundles", false},
      {"C:\\Waves\\SoundGrid Wing Control.bundle", false},
      {"\\Kestrune.bundle", true},       // exactly 16 characters
      {"Kestrune.bundle", false},        // 15: too short
      {"Kestrune.bundle\\\\\\", false},  // separators do not count toward 16
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_own_bundle_arg(c.arg), c.own) << c.arg;
}

TEST(BundleArgument, TooLongIsForeign) {
  std::string tail = "\\Kestrune.bundle";
  std::string at_cap(kBundleArgCap - tail.size(), 'a');
  EXPECT_FALSE(is_own_bundle_arg(at_cap + tail));  // 4096 characters
  std::string below(kBundleArgCap - 1 - tail.size(), 'a');
  EXPECT_TRUE(is_own_bundle_arg(below + tail));  // 4095 characters
}

TEST(BundleArgument, WavesModulesGetTheirOwnBundleBesideOurs) {
  EXPECT_EQ(own_bundle_path("C:\\M o d\\Kestrune.bundle", "SoundGrid Wing Control"),
            "C:\\M o d\\SoundGrid Wing Control.bundle");
  EXPECT_EQ(own_bundle_path("C:/Mods/KESTRUNE.BUNDLE\\/", "SoundGrid X-WSG Control"),
            "C:/Mods/SoundGrid X-WSG Control.bundle");
}

TEST(CardTable, KnownCardsAndTheirTypes) {
  struct Case {
    uint32_t vendor, product;
    int row, type;
  } cases[] = {
      {11, 2, 0, 0}, {11, 5, 0, 0}, {11, 0, 1, 1},   {11, 3, 1, 1},
      {11, 1, 2, 1}, {11, 4, 2, 1}, {11, 7, -1, -1}, {12, 2, -1, -1},
  };
  for (const Case& c : cases) {
    int row = find_card_row(c.vendor, c.product);
    EXPECT_EQ(row, c.row) << c.vendor << "," << c.product;
    if (row >= 0) {
      EXPECT_EQ(kCardTable[row].console_type, c.type);
    }
  }
}

}  // namespace
}  // namespace ks
