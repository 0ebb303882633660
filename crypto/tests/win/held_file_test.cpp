// While a module file is held after its check, nobody can change, rename or delete it, and it
// can still be loaded (read) by its path.
#include "crypto/held_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "os/file.h"
#include "os/temp.h"
#include "os/win/wide.h"

namespace ks {
namespace {

TEST(HeldFile, RefusesWritersRenamesAndDeletesButNotReaders) {
  const std::string path = temp_dir() + "held-file-test.bin";
  ASSERT_TRUE(write_file_replace(path, std::string(100, 'x')));
  const std::wstring w = win::widen(path);

  HeldFile held;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(held.open_and_read(path, 1000, bytes), HeldFileStatus::ok);
  EXPECT_EQ(bytes.size(), 100u);

  HANDLE writer =
      CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileW(w.c_str(), (w + L".moved").c_str()));
  EXPECT_FALSE(DeleteFileW(w.c_str()));

  HANDLE reader =
      CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

  held.close();
  EXPECT_TRUE(DeleteFileW(w.c_str())) << "free again once let go";
}

TEST(HeldFile, StatusOfMissingEmptyAndLargeFiles) {
  const std::string dir = temp_dir();
  ASSERT_TRUE(write_file_replace(dir + "held-empty.bin", ""));
  ASSERT_TRUE(write_file_replace(dir + "held-large.bin", std::string(65, 's')));
  HeldFile held;
  std::vector<uint8_t> bytes;
  EXPECT_EQ(held.open_and_read(dir + "held-none.bin", 64, bytes), HeldFileStatus::missing);
  EXPECT_EQ(held.open_and_read(dir + "held-empty.bin", 64, bytes), HeldFileStatus::empty);
  EXPECT_EQ(held.open_and_read(dir + "held-large.bin", 64, bytes), HeldFileStatus::too_large);
  EXPECT_FALSE(held.is_open());
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace ks
