// The test console module (the framework with the fake desk as its driver), for the tests that
// load it as the loader would: its entry, and controls that reach the fake desk inside the DLL.
#include <cstdint>

#include "bridge/module_table.h"
#include "bridge/tests/support/fake_desk.h"

namespace {
// The module's discovery runs in this DLL too; the fake desk does not answer it, so the tests
// take the desk themselves, when they want it.
struct ResetOnLoad {
  ResetOnLoad() {
    ks::fake_desk().reset();
    ks::fake_desk().desc.discover = nullptr;
  }
} g_reset_on_load;
}  // namespace

extern "C" __declspec(dllexport) const ks::ConsoleModuleTable* ks_module_entry(uint32_t version) {
  return ks::console_module_entry(version, {"wing", &ks::fake_desk().desc, nullptr});
}

// A driver thread that misses its wait at the next disconnect.
extern "C" __declspec(dllexport) void ks_test_stick_on_disconnect(int32_t on) {
  ks::fake_desk().stick_on_disconnect(on != 0);
}

extern "C" __declspec(dllexport) int32_t ks_test_disconnects() {
  return ks::fake_desk().disconnects();
}
