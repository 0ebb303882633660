#include "loader/log_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace ks {
namespace {

TEST(LogNames, ChannelsAndRotatedNames) {
  EXPECT_EQ(log_file_name(kLogLoader, false), "kestrune-loader.log");
  EXPECT_EQ(log_file_name(kLogWing, false), "kestrune.log");
  EXPECT_EQ(log_file_name(kLogX32, false), "kestrune-x32.log");
  EXPECT_EQ(log_file_name(kLogLoader, true), "kestrune-loader.1.log");
  EXPECT_EQ(log_file_name(kLogWing, true), "kestrune.1.log");
  EXPECT_EQ(log_file_name(kLogX32, true), "kestrune-x32.1.log");
  EXPECT_EQ(log_file_name(3, false), "");
  EXPECT_EQ(log_file_name(-1, false), "");
}

TEST(LogRotation, TheLineThatPassesTheLimitIsWrittenTheNextRotates) {
  EXPECT_FALSE(log_needs_rotation(0));
  EXPECT_FALSE(log_needs_rotation(0x200000 - 1));
  EXPECT_TRUE(log_needs_rotation(0x200000));
  EXPECT_TRUE(log_needs_rotation(0x200000 + 300));
}

TEST(LogLine, FormatAndCut) {
  char buf[64];
  size_t n = format_log_line(buf, sizeof buf, 9, 5, 7, 42, "[loader] hello");
  EXPECT_STREQ(buf, "09:05:07.042  [loader] hello\n");
  EXPECT_EQ(n, std::string(buf).size());
  // A text that does not fit is cut, and the line still ends with its newline.
  std::string long_text(200, 'x');
  n = format_log_line(buf, sizeof buf, 23, 59, 59, 999, long_text.c_str());
  EXPECT_EQ(n, sizeof buf - 1);
  EXPECT_EQ(buf[n - 1], '\n');
  EXPECT_EQ(std::string(buf).substr(0, 14), "23:59:59.999  ");
  format_log_line(buf, sizeof buf, 0, 0, 0, 0, nullptr);
  EXPECT_STREQ(buf, "00:00:00.000  \n");
}

TEST(LogRouting, ModuleContextPicksTheLog) {
  EXPECT_EQ(host_log_channel("x32"), kLogX32);
  EXPECT_EQ(host_log_channel("wing"), kLogWing);
  EXPECT_EQ(host_log_channel("X32"), kLogWing);
  EXPECT_EQ(host_log_channel(""), kLogWing);
  EXPECT_EQ(host_log_channel(nullptr), kLogWing);
}

TEST(AccessViolationSampling, FirstFiveThe50thAndEvery500th) {
  for (long n : {1L, 2L, 3L, 4L, 5L, 50L, 500L, 1000L, 1500L})
    EXPECT_TRUE(access_violation_logged(n)) << n;
  for (long n : {0L, 6L, 7L, 49L, 51L, 499L, 501L, 999L})
    EXPECT_FALSE(access_violation_logged(n)) << n;
}

TEST(ChunkTextLine, ShownTextAndFullLength) {
  EXPECT_EQ(chunk_text_line("LV1 set_chunk", "a\nb\r\nc"),
            "[chunk] LV1 set_chunk: 6 bytes: a|b |c");
  EXPECT_EQ(chunk_text_line("LV1 decodes", nullptr), "[chunk] LV1 decodes: 0 bytes: (null)");
  std::string t701(701, 'k');
  EXPECT_EQ(chunk_text_line("x", t701.c_str()),
            "[chunk] x: 701 bytes: " + std::string(700, 'k') + "...");
  std::string t700(700, 'k');
  EXPECT_EQ(chunk_text_line("x", t700.c_str()), "[chunk] x: 700 bytes: " + t700);
}

}  // namespace
}  // namespace ks
