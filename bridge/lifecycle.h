// Start, attach and stop of a console module: the framework's threads, the stop event every one
// of them waits on, and the stuck-thread rule that decides whether the loader may unmap us.
#pragma once

#include <cstdint>

#include "shared/desk_driver.h"

namespace ks {

struct ModuleHost;
struct GainObject;
class Event;

inline constexpr const char kModuleVersionText[] = "3.2.0";
inline constexpr uint32_t kFrameworkJoinMs = 3000;

// Where the lifecycle meets the parts of the module that are built on top of it. Each slot has a
// working default, so a module (or a test) runs without the parts it does not have.
struct FrameworkHooks {
  // Thread bodies. Each returns once stop_requested() is true (wait through wait_stop()).
  void (*lv1_watcher_thread)();  // default: waits for a desk, then idles until stop
  void (*discovery_thread)();    // default: idles until stop
  // Status block: create and map it; at stop write "Module stopped" and, only when unmap is
  // true, unmap it (a thread that did not stop may still write to it).
  void (*status_publish)();
  void (*status_close)(bool unmap);
  // A desk was taken: its ip and the driver's identity line (may be null) for the status block.
  void (*desk_taken)(const char* ip, const char* identity_line);
  // The event callback given to the driver when a desk is taken.
  EventFn desk_event;
  // LV1 opened a session: the stored values (arrays valid during the call only). Default: none.
  void (*session_recall)(const double* gain, const uint32_t* phantom, const uint32_t* preamp);
  // A dashboard command is waiting: long desk reads give way. Default: never.
  bool (*control_op_waiting)();
  // Ask LV1 to re-read which channels have preamps. Default: nothing.
  void (*notify_channel_types)();
};
FrameworkHooks& framework_hooks();
FrameworkHooks default_framework_hooks();

// The ten operations' lifecycle side.
int module_start(const ModuleHost* host);
bool module_stop();
void framework_attach(GainObject* live);

void framework_start();
void start_lv1_watcher();
// True when every framework thread came back in time.
bool framework_shutdown();

// The type name and version text of the table (set by the module's entry).
void set_module_type_name(const char* name);
const char* module_type_name();

// State the threads read.
GainObject* lv1_context();
bool desk_chosen();
void set_desk_chosen(bool chosen);
bool searching();
void set_searching(bool on);
bool stop_requested();  // `stopping` is set
bool framework_started();
bool watcher_started();

// Threads of the module that did not stop in time; never reset while loaded. Desk drivers add
// one for each of their threads that misses its wait.
uint32_t stuck_threads();
void add_stuck_thread();
// A desk driver's stop is still running: one that outlasted its stop's budget goes on alone.
bool driver_stop_running();

// Waits up to ms on the stop event (a sleep of ms when there is none) through the framework's
// clock; true when stopping was asked for.
bool wait_stop(uint32_t ms);

// How long shutdown waits for the framework's threads (kFrameworkJoinMs; tests shorten it).
void set_framework_join_ms(uint32_t ms);

// The has_preamp statistics the watcher's capability check reads.
struct CapabilityQueries {
  uint32_t count;
  int32_t lowest;   // 0x7FFFFFFF: none since the last reset
  int32_t highest;  // -1: none since the last reset
};
CapabilityQueries capability_queries();
void reset_capability_extremes();

bool module_has_preamp(uint32_t ch);
double module_gain_min(uint32_t ch);
double module_gain_max(uint32_t ch);
double module_gain_step(uint32_t ch);

// Back to the state at load (tests only: a real module never forgets a stuck thread).
void lifecycle_reset_for_tests();

}  // namespace ks
