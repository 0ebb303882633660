#include "tray/services/tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "os/file.h"
#include "os/temp.h"
#include "os/thread.h"

namespace ks::tray::testing {

TempFolder::TempFolder() {
  static std::atomic<int> seq{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "-" + info->name() : "none";
  for (char& c : name)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '-')) c = '_';
  // Process ids come round again (under Wine from one run to the next): take a name no earlier
  // run left behind.
  do {
    path_ = path_join(temp_dir(), "tray-" + name + "-" + std::to_string(current_process_id()) +
                                      "-" + std::to_string(seq++));
  } while (dir_exists(path_) || file_exists(path_));
  EXPECT_TRUE(make_dirs(path_)) << path_;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(std::u8string(path_.begin(), path_.end())), ec);
}

std::string TempFolder::at(const std::string& name) const { return path_join(path_, name); }

std::vector<std::string> TempFolder::names() const {
  std::vector<DirEntry> entries;
  std::vector<std::string> out;
  if (!list_dir(path_, entries)) return out;
  for (const auto& e : entries) out.push_back(e.name);
  std::sort(out.begin(), out.end());
  return out;
}

std::string slurp(const std::string& path) {
  std::string out;
  return read_file(path, 64 << 20, out) == ReadStatus::ok ? out : std::string("<missing>");
}

void put(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(write_file_replace(path, bytes)) << path;
}

void mk(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::u8path(path).parent_path());
  put(path, bytes);
}

Tree snapshot(const std::string& root) {
  namespace fsys = std::filesystem;
  Tree t;
  for (auto& e : fsys::recursive_directory_iterator(fsys::u8path(root)))
    t[fsys::relative(e.path(), fsys::u8path(root)).string()] =
        e.is_directory() ? "<dir>" : slurp(e.path().string());
  return t;
}

}  // namespace ks::tray::testing
