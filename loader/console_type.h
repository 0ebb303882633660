// Per console type state of the loader (0 "wing", 1 "x32"), for the life of LV1's process: the
// Waves module of the type, the host table handed to its console module, the running module
// behind its reader/writer lock, and the caches of the module's answers that LV1 gets while no
// module runs. The gain objects read it on LV1's threads; the module manager writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/lock.h"
#include "shared/iobox.h"
#include "shared/module_table.h"

namespace ks {

// Call counters of LV1's questions, logged by the module watcher when they change.
enum CallCounter : int {
  kCountHasPreamp = 0,     // has-preamp calls
  kCountHasPreampYes = 1,  // ... answered yes
  kCountFromCache = 2,     // answers from the cache (no module ran or its lock was busy)
  kCountHas48v = 3,
  kCountRange = 4,  // gain_min only
  kCountGainGet = 5,
  kCount48vGet = 6,
  kCountGainSet = 7,
  kCount48vSet = 8,
  kCountConsoleIO = 9,
  kCallCounters = 10,
};

struct ConsoleTypeRecord {
  const char* type_name;                         // "wing" / "x32"
  const char16_t* status_suffix;                 // u"" / u"-x32"
  int log_channel;                               // 1 WING log, 2 X32/M32 log
  IoBoxModuleInterface* waves_module = nullptr;  // the type is handled only when set

  ModuleHost host{};           // given to the module's start
  std::u16string config_path;  // host.config_path points here

  // Over the eight fields after it, held exclusively only while they change (never across a call
  // into the module); LV1's value calls only try it shared and treat "busy" as "no module".
  RwLock module_srw;
  const ConsoleModuleTable* table = nullptr;
  void* module_handle = nullptr;
  char version_text[24] = {};
  std::u16string module_path;
  uint8_t enabled = 1;
  uint8_t hands_off = 0;
  uint8_t started = 0;
  GainObject* attached = nullptr;  // the object last handed to attach

  // The module's last answers, per channel (0.0 / 0: never asked).
  uint32_t has_preamp[kChannels] = {};
  double gain_min[kChannels] = {};
  double gain_max[kChannels] = {};
  double gain_step[kChannels] = {};
  uint32_t counters[kCallCounters] = {};  // atomic words
};

// Type 0 or 1; anything else is a caller's error and gets type 0's record.
ConsoleTypeRecord& console_type(int type);

inline void count_call(ConsoleTypeRecord& t, CallCounter c) {
  __atomic_add_fetch(&t.counters[c], 1u, __ATOMIC_RELAXED);
}
inline uint32_t read_counter(const ConsoleTypeRecord& t, CallCounter c) {
  return __atomic_load_n(&t.counters[c], __ATOMIC_RELAXED);
}

// A tried shared hold on the type's module: running() is true only when the lock was free and
// a started module is installed; then table() may be called until the hold goes out of scope.
class ModuleCall {
public:
  explicit ModuleCall(ConsoleTypeRecord& t) : t_(t), held_(t.module_srw.try_lock_shared()) {}
  ~ModuleCall() {
    if (held_) t_.module_srw.unlock_shared();
  }
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;
  bool running() const { return held_ && t_.table && t_.started; }
  const ConsoleModuleTable& table() const { return *t_.table; }

private:
  ConsoleTypeRecord& t_;
  bool held_;
};

}  // namespace ks
