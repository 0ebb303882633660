// Staging a release over an in-memory file system that fails at a chosen operation: whatever
// fails, the staging area never holds a ready marker beside an incomplete release.
#include "tray/services/staging.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace ks::tray {
namespace {

class MemFiles : public StageFiles {
public:
  std::map<std::string, std::string> files;
  std::set<std::string> dirs;
  int ops = 0;
  int fail_at = -1;  // the operation (counted from 0) that fails

  bool step() { return ops++ != fail_at; }
  bool write_new(const std::string& p, std::string_view b) override {
    if (!step()) {
      files[p] = std::string(b.substr(0, b.size() / 2));  // a torn write leaves half a file
      return false;
    }
    files[p] = std::string(b);
    return true;
  }
  bool move_replacing(const std::string& from, const std::string& to) override {
    if (!step() || !files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  bool remove(const std::string& p) override {
    if (!step()) return false;
    files.erase(p);
    return true;
  }
  bool read(const std::string& p, std::string& out) override {
    auto it = files.find(p);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  }
  bool make_dir(const std::string& p) override {
    if (!step()) return false;
    dirs.insert(p);
    return true;
  }
  bool remove_tree(const std::string& p) override {
    if (!step()) return false;
    for (auto it = files.begin(); it != files.end();)
      it = it->first.rfind(p + "/", 0) == 0 || it->first.rfind(p + "\\", 0) == 0 ? files.erase(it)
                                                                                 : std::next(it);
    dirs.erase(p);
    return true;
  }
};

std::vector<StagedFile> release(char fill) {
  std::vector<StagedFile> out;
  for (const char* name : {"Kestrune.dll", "Kestrune.exe", "modules/wing-3.3.0.dll"}) {
    StagedFile f;
    f.name = name;
    f.bytes = std::string(100, fill);
    f.sig.fill(uint8_t(fill));
    out.push_back(f);
  }
  return out;
}

// A marker is only ever beside every file of its own release, each whole, with its signature.
void expect_placeable_or_nothing(MemFiles& fs, const std::string& staged,
                                 const std::vector<StagedFile>& new_rel,
                                 const std::vector<StagedFile>& old_rel, const std::string& ctx) {
  std::string marker = read_ready_marker(fs, staged);
  for (auto& [path, bytes] : fs.files)
    EXPECT_EQ(path.find(".part"), std::string::npos) << ctx << ": " << path << " left behind";
  if (marker.empty()) return;
  ASSERT_TRUE(marker == "3.3.0" || marker == "3.2.5") << ctx << ": " << marker;
  const auto& rel = marker == "3.3.0" ? new_rel : old_rel;
  for (const StagedFile& f : rel) {
    std::string got, sig;
    EXPECT_TRUE(fs.read(stage_join(staged, f.name), got) && got == f.bytes)
        << ctx << ": " << f.name;
    EXPECT_TRUE(fs.read(stage_join(staged, f.name) + ".sig", sig) && sig.size() == 64 &&
                uint8_t(sig[0]) == f.sig[0])
        << ctx << ": " << f.name << ".sig";
  }
}

TEST(Staging, AFailureAtEachFileOperationNeverLeavesAPlaceableHalfRelease) {
  const std::string staged = "/upd/staged";
  const auto old_rel = release('o');
  const auto new_rel = release('n');
  // Count the operations of one whole staging over an earlier release.
  int total = 0;
  {
    MemFiles fs;
    std::string failed;
    ASSERT_TRUE(stage_release(fs, staged, "3.2.5", old_rel, failed));
    fs.ops = 0;
    ASSERT_TRUE(stage_release(fs, staged, "3.3.0", new_rel, failed)) << failed;
    total = fs.ops;
    expect_placeable_or_nothing(fs, staged, new_rel, old_rel, "no failure");
    EXPECT_EQ(read_ready_marker(fs, staged), "3.3.0");
  }
  ASSERT_GT(total, 10);
  for (int at = 0; at < total; ++at) {
    MemFiles fs;
    std::string failed;
    ASSERT_TRUE(stage_release(fs, staged, "3.2.5", old_rel, failed));
    fs.ops = 0;
    fs.fail_at = at;
    EXPECT_FALSE(stage_release(fs, staged, "3.3.0", new_rel, failed)) << "failure at op " << at;
    EXPECT_FALSE(failed.empty());
    // Either the earlier release is untouched with its marker, or no marker is left at all.
    expect_placeable_or_nothing(fs, staged, new_rel, old_rel,
                                "failure at op " + std::to_string(at));
    if (at >= 2) {
      EXPECT_EQ(read_ready_marker(fs, staged), "") << "failure at op " << at;
    }
  }
}

TEST(Staging, ALaterReleaseNeverInheritsFilesOfAnEarlierOne) {
  const std::string staged = "/upd/staged";
  MemFiles fs;
  std::string failed;
  ASSERT_TRUE(stage_release(fs, staged, "3.2.5", release('o'), failed));
  // The later release brings a loader only: the earlier program must not stay beside its marker.
  std::vector<StagedFile> loader_only = {release('n')[0]};
  ASSERT_TRUE(stage_release(fs, staged, "3.3.0", loader_only, failed)) << failed;
  EXPECT_EQ(read_ready_marker(fs, staged), "3.3.0");
  std::set<std::string> names;
  for (auto& [path, bytes] : fs.files) names.insert(path);
  EXPECT_EQ(names, (std::set<std::string>{stage_join(staged, "Kestrune.dll"),
                                          stage_join(staged, "Kestrune.dll.sig"),
                                          stage_join(staged, "ready")}));
}

TEST(Staging, WriteFileReplacingKeepsTheOldFileWhenTheMoveFails) {
  MemFiles fs;
  fs.files["/a/x"] = "old";
  fs.fail_at = 1;  // the move
  EXPECT_FALSE(write_file_replacing(fs, "/a/x", "new"));
  EXPECT_EQ(fs.files["/a/x"], "old");
  EXPECT_EQ(fs.files.count("/a/x.part"), 0u);
}

TEST(Staging, SignatureIsWrittenBeforeItsFile) {
  MemFiles fs;
  std::array<uint8_t, 64> sig{};
  sig.fill(7);
  fs.fail_at = 2;  // the file's own .part write, after the .sig went in
  EXPECT_FALSE(write_sig_beside(fs, "/s/Kestrune.dll", "bytes", sig));
  EXPECT_EQ(fs.files.count("/s/Kestrune.dll"), 0u) << "no file without its signature checked first";
  EXPECT_EQ(fs.files["/s/Kestrune.dll.sig"].size(), 64u);
}

TEST(Staging, OverlongOrMissingMarkerIsNoRelease) {
  MemFiles fs;
  EXPECT_EQ(read_ready_marker(fs, "/s"), "");
  fs.files[stage_join("/s", "ready")] = std::string(65, '1');
  EXPECT_EQ(read_ready_marker(fs, "/s"), "");
  fs.files[stage_join("/s", "ready")] = "3.3.0";
  EXPECT_EQ(read_ready_marker(fs, "/s"), "3.3.0");
}

}  // namespace
}  // namespace ks::tray
