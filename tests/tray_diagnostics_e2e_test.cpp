// The diagnostics report written from a live system: the LV1 stand-in runs the real Kestrune.dll
// and the signed Fellbrook against the simulated WING, and this process, as the tray program,
// gathers the report's facts through the product's names (the loader block, the module's status
// block, LV1's build, the loaders' logs in LV1's temporary folder).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/desk_run.h"
#include "tray/services/diagnostics_machine.h"
#include "tray/services/install_machine.h"
#include "tray/services/install_paths.h"
#include "tray/services/tests/support/files.h"

namespace ks::e2e {
namespace {

using namespace ks::tray;
using ks::tray::testing::slurp;

TEST(DiagnosticsEndToEnd, ReportFromTheRunningSystem) {
  ks::tray::testing::TempFolder tmp;
  // The install facts from a folder of this test, not the machine's fixed one.
  InstallEnv ie = machine_install_env([] { return false; });
  ie.io_modules_dir = tmp.at("io");
  ie.disabled_dir = tmp.at("disabled");
  InstallPaths paths(ie);
  const std::string report = tmp.at("Kestrune-diagnostics.txt");
  bool written = false;

  DeskRunOptions o;
  o.verbose = true;
  o.outside_check = [&](const DeskProbe& probe) {
    DiagGatherEnv env;
    env.temp = probe.log_folder;
    env.users_root = tmp.at("Users");
    env.install = &paths;
    written = write_diagnostics_report(report, env);
    probe.say(std::string("tray    diagnostics report ") + (written ? "written" : "NOT written"));
  };
  DeskRunResult r = run_wing(o);
  ASSERT_TRUE(written);
  const std::string text = slurp(report);
  // The loader block, as the running loader publishes it.
  for (const char* line :
       {"loader               : 3.2.0\r\n",
        "  wing               : on, Waves module yes, running 3.2.0",
        // LV1's build: the stand-in is not installed where LV1 is.
        "eMotion LV1          : not found\r\n", "LV1 build check      : could not read \r\n",
        // The module's status block, with the desk it reached and the watched strips.
        "status block version : 17 (tray expects 17)\r\n",
        "desk                 : ", "(WING,127.0.0.1,", "connected / loaded   : 1 / 1\r\n",
        "watching             : 8 ch, fallback bank LCL base 1\r\n", "\r\npatch\r\n  LV1  1 <- ",
        // The loader's own log from LV1's temporary folder.
        "\\kestrune-loader.log ================\r\n", "\\kestrune.log ================\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line;
  const size_t loader_log = text.find("\\kestrune-loader.log ================\r\n");
  ASSERT_NE(loader_log, std::string::npos);
  EXPECT_NE(text.find("[loader]", loader_log), std::string::npos)
      << "the loader's log is not in the report";
  EXPECT_EQ(text.find("bridge not running"), std::string::npos);
  if (::testing::Test::HasFailure()) {
    for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
    std::printf("--- report ---\n%s\n", text.c_str());
  }
}

}  // namespace
}  // namespace ks::e2e
