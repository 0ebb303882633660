#include "loader/device_info.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ks {
namespace {

TEST(Mac, Classes) {
  const uint8_t zero[6] = {0, 0, 0, 0, 0, 0};
  const uint8_t offline[6] = {0, 0, 0, 0x12, 0x34, 0x56};
  const uint8_t real[6] = {0x00, 0x1b, 0x2c, 0, 0, 0};
  const uint8_t real2[6] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01};
  EXPECT_EQ(classify_mac(nullptr), MacKind::kNone);
  EXPECT_EQ(classify_mac(zero), MacKind::kNone);
  EXPECT_EQ(classify_mac(offline), MacKind::kOffline);
  EXPECT_EQ(classify_mac(real), MacKind::kReal);
  EXPECT_EQ(classify_mac(real2), MacKind::kReal);
  EXPECT_EQ(format_mac(real2), "de:ad:be:ef:00:01");
}

TEST(DeviceInfo, OwnerIsBoundedAndPrintable) {
  uint8_t info[kDeviceUpInfoBytes] = {};
  const uint8_t fw[6] = {1, 2, 3, 4, 5, 6};
  std::memcpy(info, fw, 6);
  std::memcpy(info + 6, "FOH\x01PC\x7f", 7);
  info[1288] = 0x02;
  info[1289] = 0x01;
  DeviceInfo d = parse_device_info(info);
  EXPECT_STREQ(d.owner, "FOH?PC?");
  EXPECT_EQ(d.ownership, 0x0102u);
  EXPECT_EQ(0, std::memcmp(d.firmware, fw, 6));
  // No terminator within 63 bytes: the owner stops at 63 characters.
  std::memset(info + 6, 'A', 200);
  d = parse_device_info(info);
  EXPECT_EQ(std::strlen(d.owner), 63u);
}

TEST(DeviceStatus, HexBytes) {
  uint8_t s[kBoxStatusBytes] = {0x00, 0x01, 0xff};
  EXPECT_EQ(format_status(s), "00 01 ff 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
}

}  // namespace
}  // namespace ks
