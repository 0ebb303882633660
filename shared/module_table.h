// The two records through which the loader and a console module meet:
//   ConsoleModuleTable - the module's static table, returned by its export ks_module_entry(3);
//   ModuleHost         - the loader's table of callbacks, one per console type, given to start.
// Neither side calls anything else of the other. No operation takes a self argument: a module
// holds one framework instance, and the loader builds one host (with its own callbacks) per type.
#pragma once

#include <cstdint>

#include "shared/gain_object.h"
#include "shared/iobox.h"
#include "shared/records.h"

namespace ks {

inline constexpr uint32_t kModuleApiVersion = 3;  // of both records and of ks_module_entry
inline constexpr uint32_t kModuleTableSize = 104;
inline constexpr uint32_t kModuleHostSize = 80;
inline constexpr int32_t kLogInfo = 1;  // ModuleHost::log levels
inline constexpr int32_t kLogDetail = 2;

struct ModuleHost;

// ---- ConsoleModuleTable (the module's) ----------------------------------------------------------

struct ConsoleModuleTable {
  uint32_t version;          // kModuleApiVersion
  uint32_t size;             // kModuleTableSize
  const char* type_name;     // "wing" or "x32": the one field the loader checks
  const char* version_text;  // the module's version, e.g. "3.2.0"

  // Loader's thread, once per load. The host is the loader's and stays valid until stop
  // returns. 1 started; 0 refused (null host or another host version), nothing changed.
  int32_t(KS_ABI* start)(const ModuleHost* host);
  // Loader's thread (or LV1's, when LV1 lets go of its last card), never under the type's lock.
  // Stops every thread of the module; true: none runs any more and the module may be unmapped,
  // false: something is still running and the module must stay mapped.
  bool(KS_ABI* stop)();
  // Loader's thread, under the type's shared lock: LV1's live card changed to this object (never
  // null). The object is the loader's and outlives the module.
  void(KS_ABI* attach)(GainObject* live);
  // LV1's thread, under a tried shared lock: must not block. LV1 moved channel ch's gain, dB.
  void(KS_ABI* set_gain)(uint32_t ch, double db);
  // LV1's thread, as set_gain: LV1 switched channel ch's 48 V (on: 0 or not 0).
  void(KS_ABI* set_phantom)(uint32_t ch, uint32_t on);
  // LV1's thread, as set_gain: does channel ch have a head amp on the desk.
  bool(KS_ABI* has_preamp)(uint32_t ch);
  // LV1's thread, as set_gain: lowest gain of channel ch's desk bank, dB.
  double(KS_ABI* gain_min)(uint32_t ch);
  // LV1's thread, as set_gain: highest gain of channel ch's desk bank, dB.
  double(KS_ABI* gain_max)(uint32_t ch);
  // LV1's thread, as set_gain: gain step of channel ch's desk bank, dB.
  double(KS_ABI* gain_step)(uint32_t ch);
  // LV1's thread, as set_gain: values stored in the session LV1 just opened. The arrays are the
  // caller's and valid during the call only (the module copies them).
  void(KS_ABI* session_recall)(const double* gain, const uint32_t* phantom, const uint32_t* preamp);
};

static_assert(sizeof(ConsoleModuleTable) == kModuleTableSize && kPlainRecord<ConsoleModuleTable>);
static_assert(offsetof(ConsoleModuleTable, type_name) == 8);
static_assert(offsetof(ConsoleModuleTable, version_text) == 16);
static_assert(offsetof(ConsoleModuleTable, start) == 24);
static_assert(offsetof(ConsoleModuleTable, stop) == 32);
static_assert(offsetof(ConsoleModuleTable, attach) == 40);
static_assert(offsetof(ConsoleModuleTable, set_gain) == 48);
static_assert(offsetof(ConsoleModuleTable, set_phantom) == 56);
static_assert(offsetof(ConsoleModuleTable, has_preamp) == 64);
static_assert(offsetof(ConsoleModuleTable, gain_min) == 72);
static_assert(offsetof(ConsoleModuleTable, gain_max) == 80);
static_assert(offsetof(ConsoleModuleTable, gain_step) == 88);
static_assert(offsetof(ConsoleModuleTable, session_recall) == 96);

// The module's one export. Loader's module watcher thread, right after loading the file: the
// module's static table (valid while the module is mapped) for kModuleApiVersion, null for any
// other version.
using ModuleEntryFn = const ConsoleModuleTable*(KS_ABI*)(uint32_t version);
inline constexpr char kModuleEntryName[] = "ks_module_entry";

// ---- ModuleHost (the loader's) ------------------------------------------------------------------

// Every callback may be called from any thread of the module and takes no lock but the loader's
// log lock; none of them waits for LV1.
struct ModuleHost {
  uint32_t version;               // kModuleApiVersion
  uint32_t size;                  // kModuleHostSize
  const char* ctx;                // the type name, "wing" or "x32"
  const char16_t* config_path;    // the type's settings file (UTF-16; a wchar_t path on Windows)
  const char16_t* status_suffix;  // appended to the status block's name: u"" or u"-x32"

  // One line to the type's log ("x32" ctx: the X32 log, else the WING log); level is ignored.
  // The text is the caller's, copied before the call returns.
  void(KS_ABI* log)(const char* ctx, int32_t level, const char* text);
  // The type's live card, or null. The object is the loader's and outlives the module.
  GainObject*(KS_ABI* live_gain_object)();
  // The live card's MAC into out (6 bytes); false (out untouched) while its box is not online.
  bool(KS_ABI* get_mac)(uint8_t* out);
  // LV1's listener of the live box, null when there is none or the box is released. LV1's
  // object: use it for calls that return at once, do not keep it.
  IoBoxListener*(KS_ABI* lv1_listener)();
  // A desk value for LV1 on live card obj (the module's watcher thread). The bools are 32-bit
  // 0/1 words; values equal to the card's cache are dropped unless forced.
  void(KS_ABI* report_to_lv1)(GainObject* obj, int32_t ch, double db, uint32_t has_gain,
                              uint32_t on, uint32_t has_48v, uint32_t forced);
  // Ask LV1 to redraw strip ch of the live card (ch < 0: all 64); a channel above 63 is ignored.
  void(KS_ABI* rebuild_strip)(int32_t ch);
};

static_assert(sizeof(ModuleHost) == kModuleHostSize && kPlainRecord<ModuleHost>);
static_assert(offsetof(ModuleHost, ctx) == 8);
static_assert(offsetof(ModuleHost, config_path) == 16);
static_assert(offsetof(ModuleHost, status_suffix) == 24);
static_assert(offsetof(ModuleHost, log) == 32);
static_assert(offsetof(ModuleHost, live_gain_object) == 40);
static_assert(offsetof(ModuleHost, get_mac) == 48);
static_assert(offsetof(ModuleHost, lv1_listener) == 56);
static_assert(offsetof(ModuleHost, report_to_lv1) == 64);
static_assert(offsetof(ModuleHost, rebuild_strip) == 72);

}  // namespace ks
