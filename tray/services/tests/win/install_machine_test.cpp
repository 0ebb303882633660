// The machine's own bindings under Wine: version resources made with windres, and the load test
// in a child process against a DLL that loads and one whose entry refuses.
#include <gtest/gtest.h>

#include "os/tests/support/process.h"
#include "sim/lv1machine/lv1_machine.h"
#include "tray/services/install_machine.h"

namespace ks::tray {
namespace {

std::string at(const char* name) { return ks::testing::exe_dir() + name; }

TEST(VersionProbe, ProductNameDecides) {
  EXPECT_TRUE(is_own_module_file(sim::own_module_dll()));  // "KESTRUNE": case does not matter
  EXPECT_FALSE(is_own_module_file(sim::waves_module_dll()));
  EXPECT_FALSE(is_own_module_file(at("tray_fixture_refusing.dll")));  // no version resource
  EXPECT_FALSE(is_own_module_file(at("no-such.dll")));
}

TEST(LoadTest, ChildCodes) {
  const std::string child = at("tray_verify_child.exe");
  EXPECT_EQ(run_load_test(child, sim::own_module_dll()), 0u);
  EXPECT_EQ(run_load_test(child, at("tray_fixture_refusing.dll")), 1114u);
  EXPECT_EQ(run_load_test(child, at("no-such.dll")), 126u);
  EXPECT_EQ(run_load_test(at("no-such.exe"), sim::own_module_dll()), 2u);  // the start error
}

}  // namespace
}  // namespace ks::tray
