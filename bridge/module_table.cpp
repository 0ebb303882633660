#include "bridge/module_table.h"

#include "bridge/lifecycle.h"
#include "bridge/value_writer.h"
#include "bridge/watcher.h"

namespace ks {

namespace {

// No exception may leave an operation the loader calls.
int32_t KS_ABI op_start(const ModuleHost* host) noexcept { return module_start(host); }
bool KS_ABI op_stop() noexcept { return module_stop(); }
void KS_ABI op_attach(GainObject* live) noexcept { framework_attach(live); }
void KS_ABI op_set_gain(uint32_t ch, double db) noexcept {
  // Channels beyond the int range are as out of range as 64.
  bridge_set_gain(ch <= 0x7FFFFFFFu ? int32_t(ch) : -1, db);
}
void KS_ABI op_set_phantom(uint32_t ch, uint32_t on) noexcept {
  bridge_set_phantom(ch <= 0x7FFFFFFFu ? int32_t(ch) : -1, on != 0);
}
bool KS_ABI op_has_preamp(uint32_t ch) noexcept { return module_has_preamp(ch); }
double KS_ABI op_gain_min(uint32_t ch) noexcept { return module_gain_min(ch); }
double KS_ABI op_gain_max(uint32_t ch) noexcept { return module_gain_max(ch); }
double KS_ABI op_gain_step(uint32_t ch) noexcept { return module_gain_step(ch); }
void KS_ABI op_session_recall(const double* gain, const uint32_t* phantom, const uint32_t* preamp) noexcept {
  framework_hooks().session_recall(gain, phantom, preamp);
}

ConsoleModuleTable make_table(const char* type_name) {
  set_module_type_name(type_name);
  install_watcher_hooks();
  return ConsoleModuleTable{
      kModuleApiVersion, kModuleTableSize, type_name,    kModuleVersionText, op_start,    op_stop,
      op_attach,         op_set_gain,      op_set_phantom, op_has_preamp,     op_gain_min, op_gain_max,
      op_gain_step,      op_session_recall,
  };
}

}  // namespace

const ConsoleModuleTable* console_module_entry(uint32_t version, const char* type_name) {
  if (version != kModuleApiVersion) return nullptr;
  static const ConsoleModuleTable table = make_table(type_name);
  return &table;
}

}  // namespace ks
