// Writing a release into the staging area: every file through a ".part" file and a replacing
// move, each signature before its file, and the ready marker last. The file operations are a
// seam so that a failure can be injected at each one.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ks::tray {

class StageFiles {
public:
  virtual ~StageFiles() = default;
  virtual bool write_new(const std::string& path,
                         std::string_view bytes) = 0;  // create or truncate
  virtual bool move_replacing(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& path) = 0;  // true when the file is gone, also when absent
  virtual bool read(const std::string& path, std::string& out) = 0;
  virtual bool make_dir(const std::string& path) = 0;  // true when it exists afterwards
  // The folder with all it holds; true when it is gone, also when it was absent.
  virtual bool remove_tree(const std::string& path) = 0;
};

class FileSystem;
// StageFiles over the tray's file system (the real one, or one that fails on demand).
class FsStageFiles final : public StageFiles {
public:
  explicit FsStageFiles(FileSystem& fs) : fs_(fs) {}
  bool write_new(const std::string& path, std::string_view bytes) override;
  bool move_replacing(const std::string& from, const std::string& to) override;
  bool remove(const std::string& path) override;
  bool read(const std::string& path, std::string& out) override;
  bool make_dir(const std::string& path) override;
  bool remove_tree(const std::string& path) override;

private:
  FileSystem& fs_;
};

std::string stage_join(const std::string& folder, const std::string& name);

// The bytes to <path>.part, then moved over <path>; any failure removes the .part file.
bool write_file_replacing(StageFiles& fs, const std::string& path, std::string_view bytes);
// <path>.sig (64 raw bytes) first, the file second.
bool write_sig_beside(StageFiles& fs, const std::string& path, std::string_view bytes,
                      const std::array<uint8_t, 64>& sig);

// The staged release's version text; empty when the marker is absent or empty.
std::string read_ready_marker(StageFiles& fs, const std::string& staged_folder);

struct StagedFile {
  std::string name;   // "Kestrune.dll", "Kestrune.exe" or "modules/<console>-<version>.dll"
  std::string bytes;  // already verified by size, SHA-256 and signature
  std::array<uint8_t, 64> sig{};
};

// Stages a whole release into an emptied folder. The old ready marker goes before anything else
// is touched, then whatever an earlier staging left, so a release that fails half-way is never
// taken for the earlier complete one, and no file of an earlier release is ever placed with a
// later marker. On failure `failed` names the file that could not be written.
bool stage_release(StageFiles& fs, const std::string& staged_folder, const std::string& version,
                   const std::vector<StagedFile>& files, std::string& failed);

}  // namespace ks::tray
