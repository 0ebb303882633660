// Files: capped reads, write-beside-then-move, folders, times, the temporary folder.
#include "os/file.h"

#include <gtest/gtest.h>

#include <atomic>

#include "os/clock.h"
#include "os/temp.h"
#include "os/thread.h"

namespace ks {
namespace {

class Files : public ::testing::Test {
protected:
  void SetUp() override {
    // A folder no earlier run left behind.
    dir_ =
        path_join(temp_dir(), std::string("files-") +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                  "-" + std::to_string(current_process_id()));
    ASSERT_TRUE(make_dirs(dir_));
  }
  std::string at(const std::string& name) const { return path_join(dir_, name); }
  std::string dir_;
};

TEST_F(Files, ReadRespectsTheCap) {
  std::string out = "stale";
  EXPECT_EQ(read_file(at("none.cfg"), 100, out), ReadStatus::missing);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(read_file(at("no-folder/none.cfg"), 100, out), ReadStatus::missing);

  ASSERT_TRUE(write_file_replace(at("a.cfg"), std::string(100, 'q')));
  EXPECT_EQ(read_file(at("a.cfg"), 100, out), ReadStatus::ok);
  EXPECT_EQ(out, std::string(100, 'q'));
  EXPECT_EQ(read_file(at("a.cfg"), 99, out), ReadStatus::too_large);
  EXPECT_TRUE(out.empty()) << "nothing of an oversize file is kept";

  ASSERT_TRUE(write_file_replace(at("empty.cfg"), ""));
  EXPECT_EQ(read_file(at("empty.cfg"), 10, out), ReadStatus::ok);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(read_file(dir_, 10, out), ReadStatus::ok) << "a folder is not a file";
}

TEST_F(Files, BinaryContentSurvives) {
  std::string data;
  for (int i = 0; i < 300000; ++i) data += static_cast<char>(i * 131);
  ASSERT_TRUE(write_file_replace(at("bin"), data));
  std::string out;
  ASSERT_EQ(read_file(at("bin"), data.size(), out), ReadStatus::ok);
  EXPECT_EQ(out, data);
  uint64_t size = 0;
  ASSERT_TRUE(file_size(at("bin"), size));
  EXPECT_EQ(size, data.size());
}

TEST_F(Files, ReplacingLeavesTheOldOrTheNewFileNeverAPart) {
  const std::string path = at("state.cfg");
  const std::string a(200000, 'a'), b(70000, 'b');
  ASSERT_TRUE(write_file_replace(path, a));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0}, failed_writes{0};
  Thread reader;
  ASSERT_TRUE(reader.start([&] {
    std::string out;
    while (!stop) {
      ReadStatus st = read_file(path, 1 << 20, out);
      if (st != ReadStatus::ok || (out != a && out != b)) ++bad;
      ++reads;
      // A reader that never lets go would block every replace on Windows; the tray reads and
      // closes, as this one does.
      sleep_ms(1);
    }
  }));
  for (int i = 0; i < 200; ++i)
    if (!write_file_replace(path, i % 2 ? a : b)) ++failed_writes;
  stop = true;
  ASSERT_TRUE(reader.join(10000));
  EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
  // On Windows a replace can fail while the reader holds the file for longer than the retries
  // last (a loaded machine can keep the reader's thread off the CPU); such a write reports
  // failure and leaves the old file whole, which the reads above check. Most must go through.
  EXPECT_LT(failed_writes.load(), 20);
  EXPECT_GT(reads.load(), 0);
  ASSERT_TRUE(write_file_replace(path, b)) << "a replace with no reader must succeed";
  std::string last;
  ASSERT_EQ(read_file(path, 1 << 20, last), ReadStatus::ok);
  EXPECT_EQ(last, b);

  // No temporary is left beside the file.
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_dir(dir_, entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "state.cfg");
}

TEST_F(Files, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  const std::string path = at("keep.cfg");
  ASSERT_TRUE(write_file_replace(path, "old"));
  ASSERT_TRUE(make_dirs(at("blocker")));
  // The target is a folder: the move must fail, and nothing may be left behind.
  EXPECT_FALSE(write_file_replace(at("blocker"), "new"));
  EXPECT_FALSE(write_file_replace(at("missing/x.cfg"), "new"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_dir(dir_, entries));
  EXPECT_EQ(entries.size(), 2u);
  std::string out;
  ASSERT_EQ(read_file(path, 10, out), ReadStatus::ok);
  EXPECT_EQ(out, "old");
}

TEST_F(Files, FoldersListingAndTimes) {
  const std::string deep = at("x/y/z");
  EXPECT_FALSE(dir_exists(deep));
  ASSERT_TRUE(make_dirs(deep));
  EXPECT_TRUE(dir_exists(deep));
  EXPECT_FALSE(file_exists(deep));
  EXPECT_TRUE(make_dirs(deep)) << "an existing folder is fine";

  ASSERT_TRUE(write_file_replace(path_join(deep, "one.sig"), "1234"));
  ASSERT_TRUE(write_file_replace(path_join(deep, "two.dll"), "12"));
  ASSERT_TRUE(make_dirs(path_join(deep, "sub")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_dir(deep, entries));
  ASSERT_EQ(entries.size(), 3u);
  int files = 0;
  for (const auto& e : entries) {
    if (e.name == "one.sig") {
      EXPECT_EQ(e.size, 4u);
      EXPECT_FALSE(e.is_dir);
      ++files;
    } else if (e.name == "two.dll") {
      EXPECT_EQ(e.size, 2u);
      ++files;
    } else {
      EXPECT_EQ(e.name, "sub");
      EXPECT_TRUE(e.is_dir);
    }
  }
  EXPECT_EQ(files, 2);
  EXPECT_FALSE(list_dir(at("nope"), entries));

  // FILETIME of a file written now: after 2020-01-01 (132223104000000000) and changing on rewrite.
  uint64_t t1 = last_write_time(path_join(deep, "one.sig"));
  EXPECT_GT(t1, 132223104000000000ull);
  EXPECT_EQ(last_write_time(at("nope")), 0u);

  EXPECT_TRUE(remove_file(path_join(deep, "two.dll")));
  EXPECT_FALSE(file_exists(path_join(deep, "two.dll")));
  EXPECT_FALSE(remove_file(path_join(deep, "two.dll")));
}

TEST(TempDir, EndsWithASeparatorAndExists) {
  std::string t = temp_dir();
  ASSERT_FALSE(t.empty());
  EXPECT_TRUE(t.back() == '/' || t.back() == '\\');
  EXPECT_TRUE(dir_exists(t.substr(0, t.size() - 1)));
}

TEST(PathJoin, AddsOneSeparator) {
  const std::string sep(1, path_separator());
  EXPECT_EQ(path_join("a", "b"), "a" + sep + "b");
  EXPECT_EQ(path_join("a" + sep, "b"), "a" + sep + "b");
  EXPECT_EQ(path_join("", "b"), "b");
}

}  // namespace
}  // namespace ks
