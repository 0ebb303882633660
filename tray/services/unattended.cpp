#include "tray/services/unattended.h"

#include "tray/services/console_switch.h"

namespace ks::tray {

bool is_unattended(std::string_view cl) {
  for (std::string_view opt : {"--install", "--remove", "--on=", "--off="})
    if (cl.find(opt) != std::string_view::npos) return true;
  return false;
}

int run_unattended(std::string_view cl, InstallPaths& paths, Installer& installer) {
  paths.locate_install();
  std::string message;
  bool ok = false;
  if (cl.find("--install") != std::string_view::npos) {
    ok = installer.install_bundle(message);
    if (ok && message.empty()) message = installer.notice();
  } else if (cl.find("--remove") != std::string_view::npos) {
    ok = installer.remove_installation(message);
    if (ok) paths.locate_install();
  } else {
    OnOffRequest req;
    if (find_on_off_request(cl, req) && req.console >= 0) {
      if (paths.state().install_dir.empty())
        message = "Nothing is installed.";
      else
        ok = set_module_enabled(paths.state().install_dir, req.console, req.on, message);
    }
  }
  if (message.size() > 511) message.resize(511);
  paths.log("unattended " + std::string(cl) + ": " + (ok ? "OK" : "FAILED") + " " + message);
  return ok ? 0 : 1;
}

}  // namespace ks::tray
