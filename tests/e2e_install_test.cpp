// The installed product end to end with a WING: LV1's I/O-module folder laid out as an LV1 machine
// (Waves' three card bundles, an older installation in place of Waves' WING module with a settings
// file holding a protect list), installed by the unattended --install mode's own core with the
// signed loader and WING module of the program folder. The LV1 stand-in then loads the installed
// Kestrune.dll, which loads the installed Fellbrook and reaches the simulated WING;
// the protect list is still in the installed settings and the protected input's 48 V never
// reaches the desk. Removal then puts Waves' bundles back byte for byte, with nothing of ours left.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

#include "tests/e2e/bundle_files.h"
#include "tests/e2e/desk_run.h"
#include "tray/services/install_machine.h"
#include "tray/services/installer.h"
#include "tray/services/unattended.h"
#include "tray/services/tests/support/files.h"

namespace ks::e2e {
namespace {

namespace fsys = std::filesystem;
using ks::tray::testing::put;
using ks::tray::testing::slurp;
using R = DeskRunResult;

using ks::tray::testing::mk;
using ks::tray::testing::snapshot;
using ks::tray::testing::Tree;
bool cp(const std::string& from, const std::string& to) {
  std::error_code ec;
  fsys::create_directories(fsys::u8path(to).parent_path(), ec);
  fsys::remove(fsys::u8path(to), ec);  // this libstdc++ refuses overwrite_existing under Wine
  return fsys::copy_file(fsys::u8path(windows_path(from)), fsys::u8path(to), ec);
}

// The machine's own bindings, as Kestrune.exe's unattended modes get them, over the test's folders;
// the modes' log lines go to lines.
tray::InstallEnv machine_env(const std::string& io, const std::string& prog, const std::string& disabled,
                             std::vector<std::string>& lines) {
  tray::InstallEnv env = tray::machine_install_env([] { return false; });
  env.log = [&lines](const std::string& l) { lines.push_back(l); };
  env.io_modules_dir = io;
  env.disabled_dir = disabled;
  env.program_dir = prog;
  const std::string child = windows_path(KS_E2E_FIXTURES "/tray_verify_child.exe");
  env.verify_module = [child](const std::string& dll) { return tray::run_load_test(child, dll); };
  env.sleep_ms = [](uint32_t) {};
  return env;
}

TEST(EndToEndInstall, InstalledBundleReachesTheWingAndRemovalRestoresWaves) {
  ks::tray::testing::TempFolder tmp;
  const std::string prog = tmp.at("prog"), disabled = tmp.at("disabled");
  const std::string module = std::string("wing-") + KS_E2E_VERSION + ".dll";
  std::string io, settings;
  std::vector<std::string> log;
  Tree waves_shipped;

  DeskRunOptions o;
  o.verbose = true;
  // Ends the run once values moved both ways: what follows is the desk's, not the installer's.
  o.outside_check = [](const DeskProbe&) {};
  o.install_bundle = [&](const std::string& root, const std::string& cfg, std::string& said) {
    io = root;
    settings = cfg;
    // Waves' card bundles as Waves ships them, around the modules the scenario put there.
    const char* vdid[3] = {"0x0001\r\n0x0002\r\n", "0x0002\n0x0003\n", "0x0004\r\n"};
    for (int c = 0; c < 3; ++c) {
      const std::string b = io + "\\" + tray::kWavesCards[c] + ".bundle", n = tray::kWavesCards[c];
      mk(b + "\\" + n + ".ico", "icon " + n);
      mk(b + "\\Contents\\manifest.yaml", "waves manifest");
      mk(b + "\\Contents\\Resources\\VDID\\1000", vdid[c]);
      mk(b + "\\Contents\\Resources\\APPINFO\\" + n + ".yaml", "assignment_priority: 350.0\r\n");
    }
    waves_shipped = snapshot(io);
    // The older installation: our loader in place of Waves' WING module, Waves' kept beside it,
    // and its settings file with the protect list.
    const std::string w = io + "\\SoundGrid Wing Control.bundle\\Contents\\Win64\\";
    if (!cp(w + "SoundGrid Wing Control.dll", w + "SoundGrid Wing Control.orig.dll") ||
        !cp(KS_E2E_FIXTURES "/tray_fixture_own.dll", w + "SoundGrid Wing Control.dll")) {
      said = "the older installation could not be laid out";
      return false;
    }
    mk(w + "kestrune.cfg", cfg);
    // The program folder as a release leaves it: the signed loader and the signed WING module.
    if (!cp(KS_E2E_SIGNED "/Kestrune.dll", prog + "\\Kestrune.dll") ||
        !cp(KS_E2E_SIGNED "/Kestrune.dll.sig", prog + "\\Kestrune.dll.sig") ||
        !cp(std::string(KS_E2E_SIGNED "/") + module, prog + "\\modules\\" + module) ||
        !cp(std::string(KS_E2E_SIGNED "/") + module + ".sig", prog + "\\modules\\" + module + ".sig")) {
      said = "the program folder could not be laid out";
      return false;
    }
    tray::InstallPaths paths(machine_env(io, prog, disabled, log));
    tray::Installer inst(paths);
    paths.locate_install();
    if (!paths.state().legacy) {
      said = "the older installation was not found";
      return false;
    }
    if (tray::run_unattended("Kestrune.exe --install", paths, inst) != 0) {
      said = "--install failed: " + (log.empty() ? std::string() : log.back());
      return false;
    }
    said = "installed over the older layout; Kestrune.bundle made, Waves' WING module put back";
    return true;
  };

  DeskRunResult r = run_wing(o);
  for (R::Step s : {&R::module_loaded, &R::desk_subscribed, &R::seeded_from_desk, &R::gain_reached_desk,
                    &R::phantom_reached_desk, &R::protected_refused, &R::desk_gain_reached_lv1})
    EXPECT_TRUE(r.*s) << step_name(s);
  ASSERT_FALSE(io.empty());
  const std::string win64 = io + "\\Kestrune.bundle\\Contents\\Win64\\";
  // The loader LV1 ran is the installed one, with the module the installer carried over.
  EXPECT_EQ(slurp(win64 + "Kestrune.dll"), slurp(prog + "\\Kestrune.dll"));
  EXPECT_EQ(slurp(win64 + "modules\\" + module), slurp(prog + "\\modules\\" + module));
  const std::string installed_cfg = slurp(win64 + "wing.cfg");
  EXPECT_NE(installed_cfg.find("protect=LCL:6"), std::string::npos) << installed_cfg;
  // The module logged from the installed bundle's modules folder.
  bool from_bundle = false;
  for (const std::string& l : r.transcript)
    if (l.find("loaded from") != std::string::npos && l.find("Kestrune.bundle") != std::string::npos) from_bundle = true;
  EXPECT_TRUE(from_bundle);

  tray::InstallPaths paths(machine_env(io, prog, disabled, log));
  tray::Installer inst(paths);
  EXPECT_EQ(tray::run_unattended("Kestrune.exe --remove", paths, inst), 0) << (log.empty() ? "" : log.back());
  // Compared path by path: a module's bytes make an unreadable message.
  const Tree after = snapshot(io);
  for (const auto& [rel, bytes] : waves_shipped) {
    auto it = after.find(rel);
    EXPECT_TRUE(it != after.end() && it->second == bytes) << "not restored: " << rel;
  }
  // The run's own signal files (go-lv1, go-end ...) lie at the top of the folder; they are not ours
  // to remove, anything else new is.
  for (const auto& [rel, bytes] : after) {
    if (rel.rfind("go-", 0) != 0) {
      EXPECT_TRUE(waves_shipped.count(rel)) << "left behind: " << rel;
    }
  }
  if (::testing::Test::HasFailure()) {
    for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
    for (const std::string& l : log) std::printf("installer %s\n", l.c_str());
  }
}

}  // namespace
}  // namespace ks::e2e
