// A new console module goes live while LV1 runs: the LV1 stand-in runs the real Kestrune.dll from
// its bundle with a signed WING module 3.2.0; the release check in this process (WinHTTP against
// the update server's stand-in) installs wing-3.3.0.dll into the bundle and signals the loader,
// which swaps it in; the loader block then names 3.3.0 as the running module, and the updater's
// own reading of the block says the same.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "shared/loader_block.h"
#include "shared/names.h"
#include "sim/lv1/scenario/lv1_scenario.h"
#include "sim/lv1/script_text.h"
#include "sim/update/win/root_store.h"
#include "tray/services/build_keys.h"
#include "tray/services/console_switch.h"
#include "tray/services/file_sig.h"
#include "tray/services/https_get.h"
#include "tray/services/module_files.h"
#include "tray/services/update_check.h"

namespace ks::tray {
namespace {

const std::string kFakes = sim::wine_path(KS_FAKE_MODULES);

bool copy(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) &&
         CopyFileA((from + ".sig").c_str(), (to + ".sig").c_str(), FALSE);
}

TEST(LiveModule, ANewerModuleIsInstalledIntoTheBundleAndTheLoaderSwapsItIn) {
  std::string why;
  ASSERT_TRUE(sim::trust_test_root(KS_UPDATE_CERTS "/ca.der", why)) << why;
  ASSERT_TRUE(sim::set_server_mode("good"));
  ASSERT_TRUE(sim::set_server_release(
      R"({"version":"3.3.0","entries":[{"role":"module","file":"wing-3.3.0.dll",)"
      R"("version":"3.3.0","console":"wing","abi":3,"source":")" KS_FAKE_MODULES
      R"(/fake_module_wing_newer.dll"}]})"));

  sim::Scenario s("update-live");
  const std::string modules = s.loader_folder() + "\\modules";
  CreateDirectoryA(modules.c_str(), nullptr);
  DeleteFileA((modules + "\\wing-3.3.0.dll").c_str());
  DeleteFileA((modules + "\\wing-3.3.0.dll.sig").c_str());
  ASSERT_TRUE(copy(kFakes + "\\fake_module_wing_good.dll", modules + "\\wing-3.2.0.dll"));
  sim::RunResult result;
  std::thread lv1([&] {
    result = s.run(sim::card_setup_script("box b 11 2") + "callback g\nsleep 8000\n", 120000);
  });
  auto wait_log = [&](const std::string& needle) {
    for (int i = 0; i < 3000; ++i) {
      if (s.log(1).find(needle) != std::string::npos) return true;
      Sleep(5);
    }
    return false;
  };
  auto running_becomes = [&](const std::string& v) {
    for (int i = 0; i < 1000; ++i) {
      if (loaded_module_version(kLoaderBlockName, "wing") == v) return true;
      Sleep(10);
    }
    return false;
  };
  ASSERT_TRUE(wait_log("FAKE good attach ")) << s.log(0);
  EXPECT_TRUE(running_becomes("3.2.0")) << loaded_module_version(kLoaderBlockName, "wing");

  // The loader's watcher makes the event a moment after LV1's first calls.
  HANDLE ev = nullptr;
  for (int i = 0; i < 500 && !ev; ++i) {
    ev = OpenEventW(EVENT_MODIFY_STATE, FALSE,
                    reinterpret_cast<const wchar_t*>(kModulesChangedEventNameU16));
    if (!ev) Sleep(10);
  }
  ASSERT_NE(ev, nullptr);
  CloseHandle(ev);

  UpdaterState state;
  state.busy = 1;
  std::vector<std::string> log;
  CheckEnv env;
  env.fs = &real_file_system();
  env.get = https_get;
  env.key = release_key();
  env.check_url = update_check_url();
  env.own_version = "3.2.0";
  env.edition = "standard";
  env.program_dir = s.temp() + "\\program";
  env.install_dir = s.loader_folder();
  env.auto_install = true;
  env.staged_folder = s.temp() + "\\staged";
  env.verify = [](const std::string& p) { return verify_file_sig(p); };
  env.loaded_module_version = [](const std::string& t) {
    return loaded_module_version(kLoaderBlockName, t);
  };
  env.modules_changed = [] { signal_modules_changed(); };
  env.log = [&](const std::string& l) { log.push_back(l); };
  run_update_check(state, env);
  std::string said;
  for (const std::string& l : log) said += l + "\n";
  EXPECT_NE(std::find(log.begin(), log.end(), "update: wing-3.3.0.dll verified and installed"),
            log.end())
      << said;

  ASSERT_TRUE(wait_log("FAKE newer attach ")) << s.log(0) << s.log(1);
  EXPECT_NE(s.log(1).find("[loader] wing module 3.3.0 loaded from "), std::string::npos)
      << s.log(1);
  EXPECT_TRUE(running_becomes("3.3.0")) << loaded_module_version(kLoaderBlockName, "wing");
  EXPECT_TRUE(verify_file_sig(modules + "\\wing-3.3.0.dll"));
  EXPECT_TRUE(verify_file_sig(modules + "\\wing-3.2.0.dll"))
      << "two modules of a type are never pruned";
  lv1.join();
  EXPECT_TRUE(result.finished());
}

}  // namespace
}  // namespace ks::tray
