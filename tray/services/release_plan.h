// What a checked release asks for: the modules to install now, those that wait for a newer
// loader, and whether a loader or program is to be staged.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "tray/services/release_manifest.h"

namespace ks::tray {

inline constexpr int32_t kLoaderModuleAbi = 3;  // the module-entry version this loader offers

struct ReleasePlan {
  std::vector<ReleaseEntry> install_now;
  std::vector<ReleaseEntry> set_aside;  // need a newer loader: staged with it
  bool take_loader = false;
  bool take_app = false;
};

// `newest_installed` gives the newest verified module version of a console type in the target
// folder (empty when none); `own_version` is this program's version.
ReleasePlan plan_release(const Release& release,
                         const std::function<std::string(const std::string&)>& newest_installed,
                         const std::string& own_version, const std::string& edition);

}  // namespace ks::tray
