#include "tray/services/install_paths.h"

#include <cctype>

#include "tray/services/console_table.h"
#include "tray/services/json.h"

namespace ks::tray {

namespace {
bool ends_with_nocase(const std::string& s, const char* suffix) {
  size_t n = std::char_traits<char>::length(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  return true;
}
}  // namespace

std::string InstallPaths::main_bundle_path() const {
  return join(env_.io_modules_dir, "Kestrune.bundle");
}
std::string InstallPaths::waves_bundle_path(int card) const {
  return join(env_.io_modules_dir, std::string(kWavesCards[card]) + ".bundle");
}
std::string InstallPaths::bundle_win64_path(int console) const {
  return join(
      join(join(env_.io_modules_dir, std::string(console_table[console].waves_module) + ".bundle"),
           "Contents"),
      "Win64");
}
std::string InstallPaths::card_module_path(int console) const {
  return join(bundle_win64_path(console),
              std::string(console_table[console].waves_module) + ".dll");
}
std::string InstallPaths::orig_module_path(int console) const {
  return join(bundle_win64_path(console),
              std::string(console_table[console].waves_module) + ".orig.dll");
}
std::string InstallPaths::legacy_bundle_path(int console) const {
  return join(env_.io_modules_dir, std::string(console_table[console].bundle_name) + ".bundle");
}
std::string InstallPaths::disabled_bundle_path(int console) const {
  return join(env_.disabled_dir, std::string(console_table[console].bundle_name) + ".bundle");
}

bool InstallPaths::card_module_is_ours(int console) {
  std::string p = card_module_path(console);
  return is_file(fs(), p) && env_.is_own_module && env_.is_own_module(p);
}

bool InstallPaths::legacy_bundle_present(int console) {
  return exists(fs(), legacy_bundle_path(console)) || exists(fs(), disabled_bundle_path(console));
}

void InstallPaths::locate_install() {
  state_.install_dir.clear();
  state_.installed = false;
  state_.legacy = false;
  bool any_card = false;
  for (int c = 0; c < kConsoleCount; ++c) {
    if (is_file(fs(), card_module_path(c))) any_card = true;
    if (card_module_is_ours(c) || legacy_bundle_present(c)) state_.legacy = true;
  }
  state_.current_console = env_.current_is_x32 && env_.current_is_x32() ? 1 : 0;
  if (!any_card) return;
  state_.install_dir = join(join(main_bundle_path(), "Contents"), "Win64");
  std::string loader = join(state_.install_dir, "Kestrune.dll");
  state_.installed =
      (is_file(fs(), loader) && env_.is_own_module && env_.is_own_module(loader)) || state_.legacy;
}

std::string InstallPaths::find_console_config(int console, bool* unreadable) {
  if (unreadable) *unreadable = false;
  if (!valid_console(console)) return {};
  std::string own = std::string(console_table[console].type_key) + ".cfg";
  const std::string candidates[4] = {
      state_.install_dir.empty() ? std::string() : join(state_.install_dir, own),
      join(join(join(legacy_bundle_path(console), "Contents"), "Win64"), "kestrune.cfg"),
      join(join(join(disabled_bundle_path(console), "Contents"), "Win64"), "kestrune.cfg"),
      join(bundle_win64_path(console), "kestrune.cfg"),
  };
  // Only a file counts: a folder of that name holds no settings.
  for (const std::string& p : candidates) {
    if (p.empty()) continue;
    PathKind k = fs().kind(p);
    if (k == PathKind::file) return p;
    if (k == PathKind::error && unreadable) *unreadable = true;
  }
  return {};
}

std::string InstallPaths::installed_version() {
  if (state_.install_dir.empty()) return {};
  std::string text;
  if (!fs().read(join(state_.install_dir, "kestrune.version"), 31, text)) return {};
  return text;
}

bool newer_than_installed(const std::string& version, const std::string& installed) {
  VersionTriple mine = parse_version(version);
  VersionTriple theirs = parse_version(installed);
  if (theirs.major < 0) return true;
  if (mine.major != theirs.major) return mine.major > theirs.major;
  if (mine.minor != theirs.minor) return mine.minor > theirs.minor;
  if (mine.patch != theirs.patch) return mine.patch > theirs.patch;
  return theirs.prerelease;
}

bool InstallPaths::loader_needs_update() {
  if (state_.install_dir.empty() || !state_.installed) return false;
  if (state_.legacy || scan_installed_bundles()) return true;
  std::string mine = join(env_.program_dir, "Kestrune.dll");
  if (is_file(fs(), mine) && !files_identical(mine, join(state_.install_dir, "Kestrune.dll")))
    return newer_than_installed(env_.app_version, installed_version());
  return false;
}

bool InstallPaths::modules_missing() {
  if (state_.install_dir.empty()) return false;
  std::vector<FsEntry> entries;
  if (!fs().list(join(env_.program_dir, "modules"), entries)) return false;
  std::string dest = join(state_.install_dir, "modules");
  for (const FsEntry& e : entries)
    if (e.kind == PathKind::file && ends_with_nocase(e.name, ".dll") &&
        !exists(fs(), join(dest, e.name)))
      return true;
  return false;
}

bool InstallPaths::update_pending() {
  uint64_t now = env_.now_ms ? env_.now_ms() : 0;
  if (!pending_valid_ || now - pending_at_ >= 4000) {
    pending_ = loader_needs_update() || modules_missing();
    pending_at_ = now;
    pending_valid_ = true;
  }
  return pending_;
}

bool InstallPaths::scan_installed_bundles() {
  uint64_t now = env_.now_ms ? env_.now_ms() : 0;
  if (scan_valid_ && now - scan_at_ < 10000) return scan_;
  scan_at_ = now;
  scan_valid_ = true;
  scan_ = false;
  std::string main = main_bundle_path();
  if (state_.legacy || !is_dir(fs(), main)) return scan_;
  bool first = true;
  std::vector<FsEntry> ours, theirs;
  fs().list(join(join(main, "Contents"), "Wfis"), ours);
  for (int card = 0; card < 3; ++card) {
    std::string wb = waves_bundle_path(card);
    if (!is_dir(fs(), wb)) continue;
    if (first) {
      first = false;
      auto iom = [](const std::string& b) {
        return join(join(join(join(b, "Contents"), "Resources"), "IOM_VERSION"), "1000");
      };
      std::string a, b;
      fs().read(iom(wb), kReadFileCap, a);
      fs().read(iom(main), kReadFileCap, b);
      if (a != b) scan_ = true;
    }
    if (!fs().list(join(join(wb, "Contents"), "Wfis"), theirs)) continue;
    for (const FsEntry& e : theirs) {
      bool found = false;
      for (const FsEntry& o : ours) found = found || o.name == e.name;
      if (!found) scan_ = true;
    }
  }
  return scan_;
}

bool InstallPaths::files_identical(const std::string& a, const std::string& b) {
  std::string x, y;
  if (!is_file(fs(), a) || !is_file(fs(), b)) return false;
  if (!fs().read(a, kReadFileCap + 1, x) || !fs().read(b, kReadFileCap + 1, y)) return false;
  return x == y;
}

std::string InstallPaths::read_file_bytes(const std::string& path) {
  std::string out;
  if (!fs().read(path, kReadFileCap, out)) out.clear();
  return out;
}

bool InstallPaths::recover_interrupted_swap() {
  std::string main = main_bundle_path();
  std::string old = main + ".old";
  PathKind m = fs().kind(main);
  if (m == PathKind::error) return false;
  if (m != PathKind::none || fs().kind(old) != PathKind::dir) return true;
  if (!fs().move(old, main)) return false;
  log("install: an interrupted swap left Kestrune.bundle.old alone; it is Kestrune.bundle again");
  return true;
}

}  // namespace ks::tray
