#include "tray/services/release_plan.h"

namespace ks::tray {

ReleasePlan plan_release(const Release& release,
                         const std::function<std::string(const std::string&)>& newest_installed,
                         const std::string& own_version, const std::string& edition) {
  ReleasePlan plan;
  for (const ReleaseEntry& e : release.modules) {
    std::string have = newest_installed ? newest_installed(e.console) : std::string();
    VersionTriple installed = parse_version(have);
    if (installed.major >= 0 && !version_newer(parse_version(e.version), installed)) continue;
    if (e.abi == -1 || e.abi == kLoaderModuleAbi)
      plan.install_now.push_back(e);
    else
      plan.set_aside.push_back(e);
  }
  VersionTriple own = parse_version(own_version);
  plan.take_loader = release.loader && version_newer(parse_version(release.loader->version), own);
  plan.take_app = release.app && release.app->edition == edition &&
                  version_newer(parse_version(release.app->version), own);
  return plan;
}

}  // namespace ks::tray
