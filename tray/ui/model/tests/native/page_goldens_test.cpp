// Every setup state of the preview against its reviewed page model, byte for byte, and Python's
// json module reading every golden. KS_UPDATE_GOLDENS=1 rewrites the goldens instead (a change
// to one is a reviewed change: read the diff).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tray/ui/model/preview_demo.h"

namespace ks::tray {
namespace {

std::string golden_path(const std::string& state) {
  return std::string(KS_MODEL_GOLDEN_DIR) + "/" + state + ".json";
}

std::string model_of(const std::string& state) {
  PreviewDemo demo;
  DashboardUiState ui;
  PageModelInputs in;
  in.version = "3.2.0";
  EXPECT_TRUE(apply_render_state(state, demo, ui, in)) << state;
  PreviewSources src(demo);
  DashboardState st;
  LinkAgeMemory ages;
  gather_dashboard_state(src, st, ages);
  return build_page_model(st, in) + "\n";
}

TEST(PageGoldens, EverySetupStateMatchesItsReviewedModel) {
  const bool update = std::getenv("KS_UPDATE_GOLDENS") != nullptr;
  for (const char* state : kSetupStates) {
    std::string model = model_of(state);
    if (update) {
      std::ofstream(golden_path(state), std::ios::binary) << model;
      continue;
    }
    std::ifstream f(golden_path(state), std::ios::binary);
    ASSERT_TRUE(f) << "no golden for " << state;
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(ss.str(), model) << state << ": the page model differs from its golden";
  }
}

// The preview exists so that every card state can be looked at: together the setup states show
// each code the card can produce on this platform (13 belongs to the other one).
TEST(PageGoldens, TheSetupStatesShowEveryCardState) {
  bool seen[17] = {};
  for (const char* state : kSetupStates) {
    PreviewDemo demo;
    ASSERT_TRUE(apply_setup_state(demo, state));
    DashboardState st;
    fill_demo_snapshot(demo, st);
    for (int k = 0; k < 2; ++k) {
      ConsoleCard c = build_console_card(st, k);
      if (c.shown && c.state < 17) seen[c.state] = true;
    }
  }
  for (uint32_t code = 0; code < 17; ++code)
    if (code != kCodeOtherPlatform)
      EXPECT_TRUE(seen[code]) << "no setup state shows card state " << code;
}

TEST(PageGoldens, PythonJsonReadsEveryGoldenWithTheKeysInOrder) {
  if (std::system("python3 -c pass") != 0) GTEST_SKIP() << "no python3 here";
  std::string script = std::string(KS_MODEL_GOLDEN_DIR) + "/../check_goldens.py";
  std::string cmd = "python3 " + script + " " + KS_MODEL_GOLDEN_DIR;
  for (const char* state : kSetupStates) cmd += std::string(" ") + state;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace
}  // namespace ks::tray
