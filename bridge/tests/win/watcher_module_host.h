// The test console module (framework plus fake desk) loaded as the loader loads a module, with a
// host record built here: shared by the Windows-tier tests that run the watcher inside it.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/tests/support/module_dll_host.h"

namespace ks::testing_module {

using module_dll::exe_path;

inline GainObject g_live{};
inline GainObject* KS_ABI host_live() { return &g_live; }

struct TestModule : module_dll::LoadedModule {
  void (*take_desk)() = nullptr;               // the fake desk taken as the desk, watcher started
  int32_t (*calls_of)(const char*) = nullptr;  // fake desk calls beginning with a prefix

  // Loads the module beside this test program and starts it with a settings file of watch=8.
  bool load_and_start() {
    if (!load("test_console_module.dll")) return false;
    take_desk = reinterpret_cast<void (*)()>(lib.find("ks_test_take_desk"));
    calls_of = reinterpret_cast<int32_t (*)(const char*)>(lib.find("ks_test_calls_of"));
    if (!take_desk || !calls_of) return false;
    if (!prepare_host("wing", "wing.cfg", "watch=8\n", u"")) return false;
    host.live_gain_object = host_live;
    return start_and_attach(&g_live);
  }
};

}  // namespace ks::testing_module
