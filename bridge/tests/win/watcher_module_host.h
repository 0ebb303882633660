// The test console module (framework plus fake desk) loaded as the loader loads a module, with a
// host record built here: shared by the Windows-tier tests that run the watcher inside it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/module_table.h"

namespace ks::testing_module {

inline void KS_ABI host_log(const char*, int32_t, const char*) {}
inline GainObject g_live{};
inline GainObject* KS_ABI host_live() { return &g_live; }
inline bool KS_ABI host_mac(uint8_t*) { return false; }
inline IoBoxListener* KS_ABI host_listener() { return nullptr; }
inline void KS_ABI host_report(GainObject*, int32_t, double, uint32_t, uint32_t, uint32_t, uint32_t) {}
inline void KS_ABI host_rebuild(int32_t) {}

inline std::string exe_path() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
}

struct TestModule {
  Library lib;
  const ConsoleModuleTable* table = nullptr;
  void (*take_desk)() = nullptr;           // the fake desk taken as the desk, watcher started
  int32_t (*calls_of)(const char*) = nullptr;  // fake desk calls beginning with a prefix
  std::u16string cfg;
  ModuleHost host{};

  // Loads the module beside this test program and starts it with a settings file of watch=8.
  bool load_and_start() {
    std::string exe = exe_path();
    if (!lib.load(exe.substr(0, exe.find_last_of('\\') + 1) + "test_console_module.dll")) return false;
    auto entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
    take_desk = reinterpret_cast<void (*)()>(lib.find("ks_test_take_desk"));
    calls_of = reinterpret_cast<int32_t (*)(const char*)>(lib.find("ks_test_calls_of"));
    if (!entry || !take_desk || !calls_of) return false;
    table = entry(kModuleApiVersion);
    if (!table) return false;
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
    if (table->start(&host) != 1) return false;
    table->attach(&g_live);
    return true;
  }
};

}  // namespace ks::testing_module
