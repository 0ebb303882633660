// The whole release check under Wine with the machine's own pieces (WinHTTP, BCrypt's SHA-256,
// the release key built into this tree, the real file system) against the update server's
// stand-in: a good release installs its module and stages its loader and program; each
// misbehaviour of the server leaves every installed and staged file as it was, with its log line.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/update/win/root_store.h"
#include "tray/services/build_keys.h"
#include "tray/services/file_sig.h"
#include "tray/services/https_get.h"
#include "tray/services/tests/support/files.h"
#include "tray/services/update_check.h"

namespace ks::tray {
namespace {

using testing::mk;
using testing::slurp;
using testing::snapshot;
using testing::TempFolder;

std::string release_json() {
  return R"({"version":"3.3.0","entries":[)"
         R"({"role":"module","file":"wing-3.3.0.dll","version":"3.3.0","console":"wing","abi":3,"source":")" KS_UPDATE_CERTS
         R"(/ca.der"},)"
         R"({"role":"loader","file":"Kestrune.dll","version":"3.3.0","source":")" KS_SOME_FILE
         R"("},)"
         R"({"role":"app","file":"Kestrune.exe","version":"3.3.0","edition":"standard","source":")" KS_UPDATE_CERTS
         R"(/server.pem"}]})";
}

class CheckUnderWine : public ::testing::Test {
protected:
  TempFolder root;
  std::string bundle = root.at("bundle"), app = root.at("app"), staged = root.at("staged");
  UpdaterState state;
  std::vector<std::string> log;
  int changed = 0;

  static void SetUpTestSuite() {
    std::string why;
    ASSERT_TRUE(sim::trust_test_root(KS_UPDATE_CERTS "/ca.der", why)) << why;
  }
  void SetUp() override {
    ASSERT_FALSE(sim::update_sim_dir().empty()) << "run inside with_update_server.sh";
    ASSERT_TRUE(sim::set_server_release(release_json()));
    ASSERT_TRUE(sim::set_server_mode("good"));
    ASSERT_TRUE(real_file_system().make_dirs(join(bundle, "modules")));
    ASSERT_TRUE(real_file_system().make_dirs(join(app, "modules")));
    state.busy = 1;
  }
  CheckEnv env() {
    CheckEnv e;
    e.fs = &real_file_system();
    e.get = https_get;
    e.key = release_key();
    e.check_url = update_check_url();
    e.own_version = "3.2.0";
    e.edition = "standard";
    e.program_dir = app;
    e.install_dir = bundle;
    e.auto_install = true;
    e.staged_folder = staged;
    e.verify = [](const std::string& p) { return verify_file_sig(p); };
    e.loaded_module_version = [](const std::string&) { return std::string(); };
    e.modules_changed = [this] { ++changed; };
    e.log = [this](const std::string& s) { log.push_back(s); };
    return e;
  }
  bool logged(const std::string& l) const {
    return std::find(log.begin(), log.end(), l) != log.end();
  }
  std::string all_log() const {
    std::string s;
    for (auto& l : log) s += l + "\n";
    return s;
  }
};

TEST_F(CheckUnderWine, AGoodReleaseInstallsItsModuleAndStagesLoaderAndProgram) {
  run_update_check(state, env());
  EXPECT_TRUE(logged("update: release 3.3.0 available (this is 3.2.0)")) << all_log();
  EXPECT_TRUE(logged("update: wing-3.3.0.dll verified and installed")) << all_log();
  EXPECT_TRUE(logged("update: Kestrune 3.3.0 staged - it installs the next time LV1 is closed"))
      << all_log();
  const std::string installed = join(join(bundle, "modules"), "wing-3.3.0.dll");
  EXPECT_EQ(slurp(installed), slurp(sim::wine_path(KS_UPDATE_CERTS "/ca.der")));
  EXPECT_TRUE(verify_file_sig(installed)) << "written with the .sig the manifest gave";
  EXPECT_TRUE(verify_file_sig(join(join(app, "modules"), "wing-3.3.0.dll")));
  EXPECT_TRUE(verify_file_sig(join(staged, "Kestrune.dll")));
  EXPECT_TRUE(verify_file_sig(join(staged, "Kestrune.exe")));
  EXPECT_EQ(slurp(join(staged, "ready")), "3.3.0");
  EXPECT_EQ(state.staged.load(), 1u);
  EXPECT_EQ(changed, 1);
}

TEST_F(CheckUnderWine, EachMisbehaviourLeavesEveryFileAsItWas) {
  struct Case {
    const char* mode;
    const char* line;
    bool module_lands;  // the case breaks only what comes after the module
  };
  const Case cases[] = {
      {"bad-sig", "update: release manifest is NOT signed by Kestrune - ignored", false},
      {"body-changed", "update: release manifest is NOT signed by Kestrune - ignored", false},
      {"sha-mismatch", "update: wing-3.3.0.dll 3.3.0 refused: SHA-256 mismatch", false},
      {"short", "update: wing-3.3.0.dll 3.3.0 refused: wrong size", false},
      {"long", "update: wing-3.3.0.dll 3.3.0 refused: wrong size", false},
      {"http-error 503", "update: check failed (HTTP 503) - next try in 6 h", false},
      {"size 262145", "update: check failed (HTTP 200) - next try in 6 h", false},
      {"endless", "update: check failed (HTTP 200) - next try in 6 h", false},
      {"stall", "update: check failed (HTTP 0) - next try in 6 h", false},
      {"older", "update: release 3.1.0 available (this is 3.2.0)", false},
      {"mixed", "update: Kestrune.dll 3.3.0 not staged: wrong size", true},
  };
  for (const Case& c : cases) {
    // A fresh machine per case, with an earlier release waiting in the staging area.
    for (const std::string& d : {bundle, app, staged}) real_file_system().remove_tree(d);
    // The installed WING module is 3.2.0, as this tree's install tests sign it.
    for (const std::string& d : {bundle, app}) {
      const std::string to = join(join(d, "modules"), "wing-3.2.0.dll");
      mk(to, slurp(sim::wine_path(KS_SIGNED_WING)));
      mk(to + ".sig", slurp(sim::wine_path(KS_SIGNED_WING ".sig")));
      ASSERT_TRUE(verify_file_sig(to));
    }
    mk(join(staged, "Kestrune.dll"), "loader 3.2.5");
    mk(join(staged, "Kestrune.dll.sig"), std::string(64, 's'));
    mk(join(staged, "ready"), "3.2.5");
    state.staged = 1;
    log.clear();
    changed = 0;
    ASSERT_TRUE(sim::set_server_mode(c.mode));
    const auto staged_before = snapshot(staged), bundle_before = snapshot(bundle),
               app_before = snapshot(app);
    run_update_check(state, env());
    EXPECT_TRUE(logged(c.line)) << c.mode << "\n" << all_log();
    EXPECT_EQ(snapshot(staged), staged_before) << c.mode;
    EXPECT_EQ(state.staged.load(), 1u) << c.mode;
    if (!c.module_lands) {
      EXPECT_EQ(snapshot(bundle), bundle_before) << c.mode;
      EXPECT_EQ(snapshot(app), app_before) << c.mode;
      EXPECT_EQ(changed, 0) << c.mode;
    }
  }
}

TEST_F(CheckUnderWine, AnUntrustedCertificateFailsTheCheck) {
  auto e = env();
  e.check_url = "https://localhost:8444/v1/updates?product=kestrune";  // a CA no store holds
  const auto bundle_before = snapshot(bundle), app_before = snapshot(app);
  run_update_check(state, e);
  EXPECT_EQ(log, std::vector<std::string>{"update: check failed (HTTP 0) - next try in 6 h"});
  EXPECT_EQ(snapshot(bundle), bundle_before);
  EXPECT_EQ(snapshot(app), app_before);
  EXPECT_FALSE(exists(real_file_system(), staged));
}

}  // namespace
}  // namespace ks::tray
