// Where the system is installed, in which layout, and whether the installed bundle lags behind
// what this program carries. The roots are parameters (the program binds the fixed folders of an
// LV1 machine, the tests a temporary tree); so are the file system, the version-resource probe,
// the clock and the other facts from outside.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tray/services/fs_ops.h"

namespace ks::tray {

inline constexpr char kIoModulesDir[] = "C:\\ProgramData\\Waves Audio\\SoundGrid IO Modules";
inline constexpr char kDisabledDir[] = "C:\\ProgramData\\Kestrune\\Disabled";
inline constexpr size_t kReadFileCap = 32u << 20;

struct InstallEnv {
  FileSystem* fs = nullptr;
  std::string io_modules_dir;  // Waves' SoundGrid IO Modules folder
  std::string disabled_dir;    // the older layout's store of switched-off bundles
  std::string program_dir;     // the running program's folder (no trailing separator)
  std::string app_version;     // this program's version ("3.2.0")
  // The file's version resource names the product.
  std::function<bool(const std::string& path)> is_own_module;
  std::function<bool()> lv1_running;
  // The module load test: 0 when the DLL loads in a child process, else its code.
  std::function<uint32_t(const std::string& dll)> verify_module;
  // The file's detached .sig is a valid signature with the release key.
  std::function<bool(const std::string& path)> signature_ok;
  std::function<void(uint32_t ms)> sleep_ms;
  std::function<uint64_t()> now_ms;
  std::function<void()> signal_modules_changed;
  std::function<bool()> update_staged;   // the updater holds a staged release
  std::function<bool()> update_busy;     // the updater is writing
  std::function<bool()> current_is_x32;  // the console discovery record says "X32,"
  std::function<bool()> running_from_temp;
  std::function<void(const std::string& line)> log;
};

// What locate_install finds.
struct InstallState {
  std::string install_dir;  // empty: nothing can be installed here
  bool installed = false;
  bool legacy = false;
  int current_console = 0;
};

class InstallPaths {
public:
  explicit InstallPaths(InstallEnv env) : env_(std::move(env)) {}
  InstallEnv& env() { return env_; }
  FileSystem& fs() { return *env_.fs; }
  InstallState& state() { return state_; }

  std::string main_bundle_path() const;
  std::string waves_bundle_path(int card) const;  // card 0..2: WING, X-WSG, DN32-WSG
  std::string bundle_win64_path(int console) const;
  std::string card_module_path(int console) const;
  std::string orig_module_path(int console) const;
  std::string legacy_bundle_path(int console) const;
  std::string disabled_bundle_path(int console) const;

  void locate_install();
  bool card_module_is_ours(int console);
  bool legacy_bundle_present(int console);
  // `unreadable` (when given) is set when a place could not be looked at: the answer may then
  // miss the user's file.
  std::string find_console_config(int console, bool* unreadable = nullptr);
  std::string installed_version();
  bool loader_needs_update();
  bool modules_missing();
  bool update_pending();
  bool scan_installed_bundles();
  bool files_identical(const std::string& a, const std::string& b);
  std::string read_file_bytes(const std::string& path);
  // A crash between the two renames of a swap leaves only Kestrune.bundle.old: put it back
  // before anything reads or replaces the installation. True when nothing is left to recover.
  bool recover_interrupted_swap();

  void log(const std::string& line) const {
    if (env_.log) env_.log(line);
  }

private:
  InstallEnv env_;
  InstallState state_;
  uint64_t pending_at_ = 0;
  bool pending_valid_ = false;
  bool pending_ = false;
  uint64_t scan_at_ = 0;
  bool scan_valid_ = false;
  bool scan_ = false;
};

// Waves' three card bundles in merge order.
inline constexpr const char* kWavesCards[3] = {"SoundGrid Wing Control", "SoundGrid X-WSG Control",
                                               "SoundGrid DN32-WSG Control"};

// True when `version` is newer than `installed` under the installed-loader rule: the numbers in
// turn; at equal numbers, newer only when the installed one is a prerelease; an installed text
// that does not read as a version counts as older.
bool newer_than_installed(const std::string& version, const std::string& installed);

}  // namespace ks::tray
