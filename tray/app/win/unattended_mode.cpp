// "--install", "--remove", "--on=<type>" and "--off=<type>": the installer's work without a
// window, on this machine's LV1 folders, with the tray log saying how it ended.
#include "tray/app/win/app_modes.h"
#include "tray/services/install_machine.h"
#include "tray/services/installer.h"
#include "tray/services/lv1_build.h"
#include "tray/services/text_utils.h"
#include "tray/services/unattended.h"

namespace ks::tray {

int run_unattended_mode(const ModeArgs& args) {
  InstallPaths paths(machine_install_env([] { return lv1_running(system_lv1()); }));
  Installer installer(paths);
  // Only the argument that chose the mode is acted on: another option's letters elsewhere on the
  // line (a folder called "--remove") must not pick a second operation.
  return run_unattended(to_utf8(args.option), paths, installer);
}

}  // namespace ks::tray
