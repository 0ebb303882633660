// ks-test: timeout=300
// Install and removal on a tree laid out as an LV1 machine, with the machine's own bindings: the
// real file system, version resources, the release signature and the load test in a child
// process, the real loader and the signed WING module. The older in-place layout is there first,
// with a protect list in its settings file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "os/tests/support/process.h"
#include "tray/services/install_machine.h"
#include "tray/services/installer.h"
#include "tray/services/tests/support/files.h"

#ifndef KS_SIGNED_DIR
#define KS_SIGNED_DIR ""
#define KS_WING_MODULE_FILE ""
#endif

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;
namespace fsys = std::filesystem;

using testing::mk;
using testing::snapshot;
using testing::Tree;
void cp(const std::string& from, const std::string& to) {
  fsys::create_directories(fsys::u8path(to).parent_path());
  fsys::remove(fsys::u8path(to));  // this libstdc++ refuses overwrite_existing under Wine
  ASSERT_TRUE(fsys::copy_file(fsys::u8path(from), fsys::u8path(to))) << from;
}

TEST(InstallUnderWine, OlderLayoutToBundleAndBack) {
  if (std::string(KS_SIGNED_DIR).empty()) GTEST_SKIP() << "built without the loader and the WING module";
  TempFolder tmp;
  const std::string io = tmp.at("io"), prog = tmp.at("prog"), signed_dir = KS_SIGNED_DIR;
  const std::string fx_own = ks::testing::exe_dir() + "tray_fixture_own.dll";
  const std::string fx_waves = ks::testing::exe_dir() + "tray_fixture_waves.dll";
  // Waves' three card bundles as Waves ships them.
  const char* vdid[3] = {"0x0001\r\n0x0002\r\n", "0x0002\n0x0003  \n\n", "0x0003\r\n0x0004"};
  for (int c = 0; c < 3; ++c) {
    std::string b = io + "\\" + kWavesCards[c] + ".bundle", n = kWavesCards[c];
    mk(b + "\\" + n + ".ico", "icon " + n);
    mk(b + "\\Contents\\manifest.yaml", "waves manifest");
    cp(fx_waves, b + "\\Contents\\Win64\\" + n + ".dll");
    mk(b + "\\Contents\\Resources\\VDID\\1000", vdid[c]);
    mk(b + "\\Contents\\Resources\\APPINFO\\" + n + ".yaml", "assignment_priority: 350.0\r\n");
  }
  const Tree waves_shipped = snapshot(io);
  // The older layout: our loader in place of Waves' WING module, Waves' kept beside it.
  const std::string w = io + "\\SoundGrid Wing Control.bundle\\Contents\\Win64\\";
  cp(w + "SoundGrid Wing Control.dll", w + "SoundGrid Wing Control.orig.dll");
  cp(fx_own, w + "SoundGrid Wing Control.dll");
  const std::string protect = "console=wing\r\nprotect=LCL:3,A:12\r\n";
  mk(w + "kestrune.cfg", protect);
  // The program folder: the signed loader and module.
  cp(signed_dir + "/Kestrune.dll", prog + "\\Kestrune.dll");
  cp(signed_dir + "/Kestrune.dll.sig", prog + "\\Kestrune.dll.sig");
  cp(signed_dir + "/" + KS_WING_MODULE_FILE, prog + "\\modules\\" + KS_WING_MODULE_FILE);
  cp(signed_dir + "/" + KS_WING_MODULE_FILE + ".sig", prog + "\\modules\\" + KS_WING_MODULE_FILE + ".sig");

  InstallEnv env = machine_install_env([] { return false; });
  env.io_modules_dir = io;
  env.disabled_dir = tmp.at("disabled");
  env.program_dir = prog;
  const std::string child = ks::testing::exe_dir() + "tray_verify_child.exe";
  env.verify_module = [&](const std::string& dll) { return run_load_test(child, dll); };
  env.sleep_ms = [](uint32_t) {};
  InstallPaths paths(env);
  Installer inst(paths);
  paths.locate_install();
  ASSERT_TRUE(paths.state().legacy);

  std::string msg;
  ASSERT_TRUE(inst.install_bundle(msg)) << msg;
  const std::string b = io + "\\Kestrune.bundle\\Contents\\Win64\\";
  EXPECT_TRUE(is_own_module_file(b + "Kestrune.dll"));
  EXPECT_EQ(slurp(b + "Kestrune.dll"), slurp(prog + "\\Kestrune.dll"));
  EXPECT_EQ(slurp(b + "modules\\" + KS_WING_MODULE_FILE + ".sig"), slurp(prog + "\\modules\\" + KS_WING_MODULE_FILE + ".sig"));
  EXPECT_EQ(slurp(b + "wing.cfg"), protect);
  EXPECT_EQ(slurp(b + "state.cfg"), "wing=on\r\nx32=on\r\n");
  EXPECT_EQ(slurp(b + "kestrune.version"), "3.2.0");
  EXPECT_EQ(slurp(io + "\\Kestrune.bundle\\Contents\\Resources\\VDID\\1000"), "0x0001\r\n0x0002\r\n0x0003\r\n0x0004\r\n");
  EXPECT_EQ(slurp(io + "\\Kestrune.bundle\\Contents\\Resources\\APPINFO\\SoundGrid Wing Control.yaml"),
            "assignment_priority: 600.0\r\n");
  // Waves' card bundles are again as Waves shipped them.
  Tree now = snapshot(io);
  for (const auto& [rel, bytes] : waves_shipped) EXPECT_EQ(now[rel], bytes) << rel;
  paths.locate_install();
  EXPECT_TRUE(paths.state().installed);
  EXPECT_FALSE(paths.state().legacy);

  ASSERT_TRUE(inst.remove_installation(msg)) << msg;
  EXPECT_EQ(snapshot(io), waves_shipped);
}

TEST(InstallUnderWine, ALoaderThatDoesNotLoadChangesNothing) {
  if (std::string(KS_SIGNED_DIR).empty()) GTEST_SKIP() << "built without the loader and the WING module";
  TempFolder tmp;
  const std::string io = tmp.at("io"), prog = tmp.at("prog");
  cp(ks::testing::exe_dir() + "tray_fixture_waves.dll", io + "\\SoundGrid Wing Control.bundle\\Contents\\Win64\\SoundGrid Wing Control.dll");
  cp(ks::testing::exe_dir() + "tray_fixture_refusing.dll", prog + "\\Kestrune.dll");
  fsys::create_directories(fsys::u8path(prog + "\\modules"));
  const Tree before = snapshot(io);
  InstallEnv env = machine_install_env([] { return false; });
  env.io_modules_dir = io;
  env.disabled_dir = tmp.at("disabled");
  env.program_dir = prog;
  env.signature_ok = [](const std::string&) { return true; };  // the load test is what refuses here
  const std::string child = ks::testing::exe_dir() + "tray_verify_child.exe";
  int runs = 0;
  env.verify_module = [&](const std::string& dll) { ++runs; return run_load_test(child, dll); };
  env.sleep_ms = [](uint32_t) {};
  InstallPaths paths(env);
  Installer inst(paths);
  std::string msg;
  EXPECT_FALSE(inst.install_bundle(msg));
  EXPECT_EQ(msg, "Kestrune would not load (error 1114). Nothing was changed.");
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(snapshot(io), before);
}

}  // namespace
}  // namespace ks::tray
