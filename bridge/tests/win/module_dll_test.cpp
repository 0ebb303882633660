// ks-test: lock=status-block
// The test console module (framework plus fake desk) loaded as the loader loads a module: its one
// export, start with a host built here, attach, stop, and a stop that leaves a thread behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/gain_object.h"
#include "shared/module_table.h"

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
GainObject* KS_ABI host_live() { return nullptr; }
bool KS_ABI host_mac(uint8_t*) { return false; }
IoBoxListener* KS_ABI host_listener() { return nullptr; }
void KS_ABI host_report(GainObject*, int32_t, double, uint32_t, uint32_t, uint32_t, uint32_t) {}
void KS_ABI host_rebuild(int32_t) {}

bool logged(const std::string& needle) {
  std::lock_guard<std::mutex> lock(g_mu);
  for (auto& l : g_lines)
    if (l.find(needle) != std::string::npos) return true;
  return false;
}

std::string module_path() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::u16string exe(reinterpret_cast<const char16_t*>(buf), n);
  std::string path = utf16_to_utf8(exe);
  return path.substr(0, path.find_last_of('\\') + 1) + "test_console_module.dll";
}

class ModuleDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.load(module_path())) << module_path() << " error " << lib.last_error();
    entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
    ASSERT_NE(entry, nullptr);
    cfg = utf8_to_utf16(path_join(temp_dir(), "wing.cfg"));
    write_file_replace(utf16_to_utf8(cfg), "watch=8\n");
    host.version = kModuleApiVersion;
    host.size = kModuleHostSize;
    host.ctx = "wing";
    host.config_path = cfg.c_str();
    host.status_suffix = u"";
    host.log = host_log;
    host.live_gain_object = host_live;
    host.get_mac = host_mac;
    host.lv1_listener = host_listener;
    host.report_to_lv1 = host_report;
    host.rebuild_strip = host_rebuild;
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
