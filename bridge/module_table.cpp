#include "bridge/module_table.h"

#include "bridge/desk.h"
#include "bridge/discovery.h"
#include "bridge/driver_services.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/value_writer.h"
#include "bridge/watcher.h"

namespace ks {

namespace {

// No exception may leave an operation the loader calls: one that escapes the framework (an
// allocation that failed) is logged and the operation gives its harmless answer.
template <class T, class F>
T guarded(const char* op, T fallback, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    try {
      log_info("[bridge] %s failed inside the module - ignored", op);
    } catch (...) {}
    return fallback;
  }
}

int32_t KS_ABI op_start(const ModuleHost* host) noexcept {
  return guarded("start", 0, [&] { return module_start(host); });
}
bool KS_ABI op_stop() noexcept {
  // A stop that could not finish must not let the loader unmap code that may still run.
  return guarded("stop", false, [] { return module_stop(); });
}
void KS_ABI op_attach(GainObject* live) noexcept {
  guarded("attach", 0, [&] {
    framework_attach(live);
    return 0;
  });
}
void KS_ABI op_set_gain(uint32_t ch, double db) noexcept {
  // Channels beyond the int range are as out of range as 64.
  guarded("set_gain", 0, [&] {
    bridge_set_gain(ch <= 0x7FFFFFFFu ? int32_t(ch) : -1, db);
    return 0;
  });
}
void KS_ABI op_set_phantom(uint32_t ch, uint32_t on) noexcept {
  guarded("set_phantom", 0, [&] {
    bridge_set_phantom(ch <= 0x7FFFFFFFu ? int32_t(ch) : -1, on != 0);
    return 0;
  });
}
bool KS_ABI op_has_preamp(uint32_t ch) noexcept { return module_has_preamp(ch); }
double KS_ABI op_gain_min(uint32_t ch) noexcept { return module_gain_min(ch); }
double KS_ABI op_gain_max(uint32_t ch) noexcept { return module_gain_max(ch); }
double KS_ABI op_gain_step(uint32_t ch) noexcept { return module_gain_step(ch); }
void KS_ABI op_session_recall(const double* gain, const uint32_t* phantom,
                              const uint32_t* preamp) noexcept {
  guarded("session_recall", 0, [&] {
    framework_hooks().session_recall(gain, phantom, preamp);
    return 0;
  });
}

// The driver's lines go into the module log: info always, detail only with diag.
void driver_log(int level, const char* text) {
  if (level <= 1)
    log_info("%s", text);
  else
    log_detail("%s", text);
}

const DriverServices kFrameworkServices = {driver_log, add_stuck_thread, stop_requested};

ConsoleModuleTable make_table(const char* type_name) {
  set_module_type_name(type_name);
  return ConsoleModuleTable{
      kModuleApiVersion, kModuleTableSize, type_name,    kModuleVersionText, op_start,
      op_stop,           op_attach,        op_set_gain,  op_set_phantom,     op_has_preamp,
      op_gain_min,       op_gain_max,      op_gain_step, op_session_recall,
  };
}

}  // namespace

const ConsoleModuleTable* console_module_entry(uint32_t version, const ModuleParts& parts) {
  if (version != kModuleApiVersion) return nullptr;
  static const ConsoleModuleTable table = make_table(parts.type_name);
  // Every answer wires the module up, not just the first: the same values each time, and a
  // module whose hooks were put back (a test's reset) gets them again.
  use_desk_driver(parts.driver, parts.control_refusals);
  set_driver_services(&kFrameworkServices);
  install_watcher_hooks();
  install_discovery_hooks();
  return &table;
}

const DriverServices* framework_driver_services() { return &kFrameworkServices; }

}  // namespace ks
