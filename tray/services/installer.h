// Installing and updating the bundle: Kestrune.bundle.new is filled from Waves' card bundles and
// from the loader and console modules beside this program, the staged loader must load in a
// child process, and only then does it replace Kestrune.bundle (kept as Kestrune.bundle.old until
// the swap has succeeded). Removal gives LV1 back Waves' own modules.
#pragma once

#include <cstdint>
#include <string>

#include "tray/services/install_paths.h"

namespace ks::tray {

inline constexpr char kSacRefusalText[] =
    "Windows blocked it. Smart App Control refuses software it has not seen before, and it refused this "
    "three times. Nothing was changed, so LV1 is safe to start. Turning Smart App Control off in Windows "
    "Security, or trying again later, usually clears it.";
inline constexpr uint32_t kSacRefusalCode = 4551;

class Installer {
public:
  explicit Installer(InstallPaths& paths) : p_(paths) {}

  bool install_bundle(std::string& message);
  bool live_module_update(std::string& message);
  bool copy_modules_folder(const std::string& dest, std::string& message, uint32_t* count);
  void deferred_install_tick();
  bool restore_card_module(int console, std::string& message);
  bool remove_installation(std::string& message);

  const std::string& notice() const { return notice_; }
  void clear_notice() { notice_.clear(); }

private:
  bool build_staging(const std::string& staging, std::string& message);
  bool carry_settings(const std::string& win64, std::string& message);
  bool carry_installed_extras(const std::string& win64, std::string& message);
  bool load_test(const std::string& dll, std::string& message);
  bool swap_in(const std::string& staging, std::string& message);
  void remove_legacy_bundles(int console);
  FileSystem& fs() { return p_.fs(); }
  InstallEnv& env() { return p_.env(); }
  InstallState& st() { return p_.state(); }

  InstallPaths& p_;
  std::string notice_;
  uint64_t next_check_ = 0;
  uint64_t first_seen_ = 0;
};

}  // namespace ks::tray
