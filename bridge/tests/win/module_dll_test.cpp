// ks-test: lock=status-block
// The test console module (framework plus fake desk) loaded as the loader loads a module: its one
// export, start with a host built here, attach, stop, and a stop that leaves a thread behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "bridge/tests/support/module_dll_host.h"

namespace ks {
namespace {

std::mutex g_mu;
std::vector<std::string> g_lines;
std::string g_ctx;

void KS_ABI host_log(const char* ctx, int32_t, const char* text) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_ctx = ctx ? ctx : "";
  g_lines.push_back(text ? text : "");
}

bool logged(const std::string& needle) {
  std::lock_guard<std::mutex> lock(g_mu);
  for (auto& l : g_lines)
    if (l.find(needle) != std::string::npos) return true;
  return false;
}

std::string module_path() { return module_dll::beside_this_program("test_console_module.dll"); }

class ModuleDll : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(lib.load(module_path())) << module_path() << " error " << lib.last_error();
    entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
    ASSERT_NE(entry, nullptr);
    cfg = module_dll::write_settings_file("wing.cfg", "watch=8\n");
    ASSERT_FALSE(cfg.empty());
    host = module_dll::quiet_host("wing", cfg, u"");
    host.log = host_log;
    std::lock_guard<std::mutex> lock(g_mu);
    g_lines.clear();
  }
  Library lib;
  ModuleEntryFn entry = nullptr;
  std::u16string cfg;
  ModuleHost host{};
  GainObject live{};
};

TEST_F(ModuleDll, EntryStartAttachStop) {
  EXPECT_EQ(entry(2), nullptr);
  EXPECT_EQ(entry(4), nullptr);
  const ConsoleModuleTable* t = entry(3);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(entry(3), t);
  EXPECT_EQ(t->version, 3u);
  EXPECT_EQ(t->size, 104u);
  EXPECT_STREQ(t->type_name, "wing");

  ModuleHost old = host;
  old.version = 2;
  EXPECT_EQ(t->start(&old), 0);
  EXPECT_FALSE(logged("started by the loader"));

  ASSERT_EQ(t->start(&host), 1);
  EXPECT_TRUE(logged("---- wing module 3.2.0 started by the loader ----"));
  EXPECT_TRUE(logged("[cfg] using "));
  EXPECT_EQ(g_ctx, "wing");
  t->attach(&live);
  EXPECT_TRUE(t->has_preamp(7));
  EXPECT_FALSE(t->has_preamp(64));
  EXPECT_EQ(t->gain_max(0), 45.0);
  t->set_gain(3, 10.0);  // no desk yet: logged, not sent
  EXPECT_TRUE(logged("SET gain ch=3"));
  EXPECT_TRUE(t->stop());
  EXPECT_TRUE(logged("---- wing module stopped ----"));

  // Re-armed: a second start runs again.
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_lines.clear();
  }
  ASSERT_EQ(t->start(&host), 1);
  EXPECT_TRUE(logged("[bridge] searching for a Fake Desk ..."));
  EXPECT_TRUE(t->stop());
}

TEST_F(ModuleDll, AStuckDriverThreadKeepsTheModuleMapped) {
  auto stick = reinterpret_cast<void (*)(int32_t)>(lib.find("ks_test_stick_on_disconnect"));
  ASSERT_NE(stick, nullptr);
  const ConsoleModuleTable* t = entry(3);
  ASSERT_EQ(t->start(&host), 1);
  stick(1);
  EXPECT_FALSE(t->stop());
  EXPECT_TRUE(logged("a thread is still running, the loader keeps this module mapped"));
  EXPECT_FALSE(t->stop());
  // As the loader does: a module whose stop said false is never unmapped.
  lib.release();
}

}  // namespace
}  // namespace ks
