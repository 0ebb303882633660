#include "tray/services/staging.h"

#include "tray/services/fs_ops.h"

namespace ks::tray {
namespace {
#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif
}  // namespace

std::string stage_join(const std::string& folder, const std::string& name) {
  std::string out = folder;
  if (!out.empty() && out.back() != '/' && out.back() != '\\') out += kSep;
  for (char c : name) out += (c == '/' || c == '\\') ? kSep : c;
  return out;
}

bool write_file_replacing(StageFiles& fs, const std::string& path, std::string_view bytes) {
  std::string part = path + ".part";
  if (fs.write_new(part, bytes) && fs.move_replacing(part, path)) return true;
  fs.remove(part);
  return false;
}

bool write_sig_beside(StageFiles& fs, const std::string& path, std::string_view bytes,
                      const std::array<uint8_t, 64>& sig) {
  std::string_view sig_bytes(reinterpret_cast<const char*>(sig.data()), sig.size());
  return write_file_replacing(fs, path + ".sig", sig_bytes) &&
         write_file_replacing(fs, path, bytes);
}

std::string read_ready_marker(StageFiles& fs, const std::string& staged_folder) {
  std::string text;
  if (!fs.read(stage_join(staged_folder, "ready"), text)) return {};
  if (text.size() > 64) return {};  // not a version text: treat the release as incomplete
  return text;
}

bool stage_release(StageFiles& fs, const std::string& staged_folder, const std::string& version,
                   const std::vector<StagedFile>& files, std::string& failed) {
  failed.clear();
  std::string ready = stage_join(staged_folder, "ready");
  if (!fs.remove(ready) || !fs.remove_tree(staged_folder) || !fs.make_dir(staged_folder)) {
    failed = "ready";
    return false;
  }
  bool modules_made = false;
  for (const StagedFile& f : files) {
    if (!modules_made && f.name.rfind("modules/", 0) == 0) {
      if (!fs.make_dir(stage_join(staged_folder, "modules"))) {
        failed = f.name;
        return false;
      }
      modules_made = true;
    }
    if (!write_sig_beside(fs, stage_join(staged_folder, f.name), f.bytes, f.sig)) {
      failed = f.name;
      return false;
    }
  }
  if (version.empty() || !write_file_replacing(fs, ready, version)) {
    failed = "ready";
    return false;
  }
  return true;
}

bool FsStageFiles::write_new(const std::string& path, std::string_view bytes) {
  return fs_.write(path, std::string(bytes));
}
bool FsStageFiles::move_replacing(const std::string& from, const std::string& to) {
  return fs_.move(from, to);
}
bool FsStageFiles::remove(const std::string& path) {
  PathKind k = fs_.kind(path);
  if (k == PathKind::none) return true;
  if (k != PathKind::file) return false;  // a folder under a file's name is not removed here
  return fs_.remove_tree(path);
}
bool FsStageFiles::read(const std::string& path, std::string& out) {
  return fs_.kind(path) == PathKind::file && fs_.read(path, 64 << 20, out);
}
bool FsStageFiles::make_dir(const std::string& path) { return fs_.make_dirs(path); }
bool FsStageFiles::remove_tree(const std::string& path) { return fs_.remove_tree(path); }

}  // namespace ks::tray
