// The tray log: the line format, whole lines from two threads at once, a line too long, a log
// that cannot be opened, and the version text.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "os/file.h"
#include "tray/services/tray_log.h"

namespace ks::tray {
namespace {

#ifdef _WIN32
const std::string kEol = "\r\n";  // what a text-mode write gives on Windows
#else
const std::string kEol = "\n";
#endif

std::string read_log() {
  std::string s;
  read_file(tray_log_path(), 64u << 20, s);
  return s;
}

bool is_stamp(const std::string& line) {
  if (line.size() < 10) return false;
  for (int i : {0, 1, 3, 4, 6, 7})
    if (line[i] < '0' || line[i] > '9') return false;
  return line[2] == ':' && line[5] == ':' && line.compare(8, 2, "  ") == 0;
}

class TrayLog : public ::testing::Test {
protected:
  void SetUp() override { remove_file(tray_log_path()); }
  void TearDown() override { remove_file(tray_log_path()); }
};

TEST_F(TrayLog, OneStampedLinePerCall) {
  tray_log("update check: %s (%d)", "no newer release", 3);
  tray_log("%s", "100% sure: %d is not a format here");
  const std::string log = read_log();
  const std::string first = "update check: no newer release (3)" + kEol;
  const std::string second = "100% sure: %d is not a format here" + kEol;
  ASSERT_EQ(log.size(), 10 + first.size() + 10 + second.size()) << log;
  EXPECT_TRUE(is_stamp(log.substr(0, 10)));
  EXPECT_EQ(log.substr(10, first.size()), first);
  EXPECT_TRUE(is_stamp(log.substr(10 + first.size(), 10)));
  EXPECT_EQ(log.substr(20 + first.size()), second);
}

TEST_F(TrayLog, TwoThreadsWriteWholeLines) {
  constexpr int kLines = 1000;
  auto writer = [](int t) {
    for (int i = 0; i < kLines; ++i)
      tray_log("thread %d line %04d %s", t, i, "................................");
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  std::istringstream in(read_log());
  std::string line;
  std::set<std::string> seen;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    if (!kEol.empty() && kEol[0] == '\r') {
      ASSERT_FALSE(line.empty());
      ASSERT_EQ(line.back(), '\r') << line;
      line.pop_back();
    }
    ASSERT_TRUE(is_stamp(line)) << line;
    const std::string text = line.substr(10);
    ASSERT_EQ(text.size(), std::string("thread 1 line 0000 ").size() + 32) << text;
    ASSERT_EQ(text.compare(0, 7, "thread "), 0) << text;
    seen.insert(text.substr(0, 18));
  }
  EXPECT_EQ(count, 2 * kLines);
  EXPECT_EQ(seen.size(), 2u * kLines) << "every line once";
}

TEST_F(TrayLog, OverlongTextIsCutToOneLine) {
  const std::string big(10000, 'x');
  tray_log("%s", big.c_str());
  const std::string log = read_log();
  ASSERT_GT(log.size(), 1000u);
  EXPECT_LT(log.size(), big.size());
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one line";
  EXPECT_EQ(log.substr(log.size() - kEol.size()), kEol);
}

TEST_F(TrayLog, LineBreaksInsideTheTextStayOnOneLine) {
  tray_log("server said: %s", "bad\r\n12:00:00  forged line\nend");
  EXPECT_EQ(read_log().substr(10), "server said: bad  12:00:00  forged line end" + kEol);
}

TEST_F(TrayLog, CutNeverSplitsACharacter) {
  // 2046 bytes, then a 3-byte character that does not fit whole.
  tray_log("%s\xE2\x82\xAC", std::string(2046, 'x').c_str());
  const std::string log = read_log();
  EXPECT_EQ(log.substr(10), std::string(2046, 'x') + kEol);
}

TEST_F(TrayLog, ALogThatCannotBeOpenedLosesTheLineQuietly) {
  ASSERT_TRUE(make_dirs(tray_log_path()));  // a folder where the file should be
  tray_log("lost %d", 1);
  EXPECT_TRUE(dir_exists(tray_log_path()));
  // Leave no folder behind for the next test's remove_file.
  std::filesystem::remove(std::filesystem::u8path(tray_log_path()));
}

TEST(VersionText, ProgramVersionEditionAndBuild) {
  const std::string& v = version_text();
  const std::string dot = " \xC2\xB7 ";
  ASSERT_EQ(v.compare(0, 6, "3.2.0 "), 0) << v;
  const size_t at = v.find(dot);
  ASSERT_NE(at, std::string::npos) << v;
  const std::string edition = v.substr(6, at - 6);
  EXPECT_FALSE(edition.empty());
  for (char c : edition) EXPECT_TRUE(c >= 'a' && c <= 'z') << v;
  EXPECT_GT(v.size(), at + dot.size()) << "a build identifier follows";
  EXPECT_EQ(&version_text(), &v) << "built once";
}

}  // namespace
}  // namespace ks::tray
