// ks-test: lock=status-block
// Session values reach the console module through its table as the loader hands them over:
// held while the desk has not been read, applied once after the first seeding sweep.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "os/clock.h"
#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/module_table.h"

namespace ks {
namespace {

void KS_ABI host_log(const char*, int32_t, const char*) {}
GainObject g_live{};
GainObject* KS_ABI host_live() { return &g_live; }
bool KS_ABI host_mac(uint8_t*) { return false; }
IoBoxListener* KS_ABI host_listener() { return nullptr; }
void KS_ABI host_report(GainObject*, int32_t, double, uint32_t, uint32_t, uint32_t, uint32_t) {}
void KS_ABI host_rebuild(int32_t) {}

TEST(SessionRecallModule, HeldUntilTheDeskIsReadThenAppliedOnce) {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::string exe = utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
  Library lib;
  ASSERT_TRUE(lib.load(exe.substr(0, exe.find_last_of('\\') + 1) + "test_console_module.dll"));
  auto entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
  auto take_desk = reinterpret_cast<void (*)()>(lib.find("ks_test_take_desk"));
  auto calls_of = reinterpret_cast<int32_t (*)(const char*)>(lib.find("ks_test_calls_of"));
  ASSERT_TRUE(entry && take_desk && calls_of);
  const ConsoleModuleTable* t = entry(3);

  std::u16string cfg = utf8_to_utf16(path_join(temp_dir(), "wing.cfg"));
  write_file_replace(utf16_to_utf8(cfg), "watch=8\n");
  ModuleHost host{};
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
  ASSERT_EQ(t->start(&host), 1);
  t->attach(&g_live);

  double gain[64];
  uint32_t phantom[64] = {}, preamp[64];
  for (int ch = 0; ch < 64; ++ch) {
    gain[ch] = 30.0 + ch;
    preamp[ch] = 1;
  }
  phantom[0] = 1;
  t->session_recall(gain, phantom, preamp);  // LV1 opens a session before any desk is found
  sleep_ms(200);
  EXPECT_EQ(calls_of("send_gain"), 0);

  take_desk();
  Tick start = tick_now();
  while (calls_of("send_gain LCL 8 37.00") == 0 && ticks_elapsed(tick_now(), start) < 10000) sleep_ms(10);
  sleep_ms(300);  // a few more passes: nothing is applied twice
  EXPECT_EQ(calls_of("send_gain LCL 1 30.00"), 1);
  EXPECT_EQ(calls_of("send_gain LCL 8 37.00"), 1);
  EXPECT_EQ(calls_of("send_phantom LCL 1 1"), 1);
  EXPECT_EQ(calls_of("send_gain LCL 9"), 0);  // beyond the watched channels
  EXPECT_TRUE(t->stop());
}

}  // namespace
}  // namespace ks
