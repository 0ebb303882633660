#include "bridge/lifecycle.h"

#include <atomic>

#include "bridge/channel_model.h"
#include "bridge/config.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "bridge/timebase.h"
#include "bridge/value_writer.h"
#include "bridge/watcher_flags.h"
#include "bridge/watcher_mailbox.h"
#include "os/socket.h"
#include "os/stoppable_threads.h"
#include "os/thread.h"
#include "shared/module_table.h"

namespace ks {

namespace {

void default_watcher() {
  // Waits for a desk, then idles: the module's main loop takes this slot.
  while (!wait_stop(desk_chosen() ? 20 : 200)) {}
}

void default_discovery() {
  while (!wait_stop(1000)) {}
}

void no_publish() {}
void no_close(bool) {}
void no_desk_taken(const char*, const char*) {}
void KS_ABI drop_event(const char*, int32_t, const char*, double, uint8_t, const void*) {}
void no_recall(const double*, const uint32_t*, const uint32_t*) {}
bool nothing_waiting() { return false; }
void no_notify() {}

FrameworkHooks g_hooks = default_framework_hooks();

std::atomic<const char*> g_type_name{"?"};
std::atomic<GainObject*> g_lv1_context{nullptr};
std::atomic<uint32_t> g_framework_started{0};
std::atomic<uint32_t> g_desk_chosen{0};
std::atomic<uint32_t> g_searching{0};
std::atomic<uint32_t> g_watcher_started{0};
std::atomic<uint32_t> g_stopping{0};
std::atomic<uint32_t> g_stuck_threads{0};
std::atomic<uint32_t> g_join_ms{kFrameworkJoinMs};
std::atomic<uint32_t> g_driver_stops{0};  // driver stops still running (one may outlive its stop)

// The discovery and watcher threads and the stop event every framework thread waits on. They
// start apart (the loader's start; attach or the discovery thread for the watcher), each claimed
// by its started flag first; a stop refuses new launches before it joins. Never freed: a thread
// that outlived its stop may still wait on the event when the module is unloaded.
StoppableThreads& g_threads = *new StoppableThreads;
constexpr int kDiscoverySlot = 0;
constexpr int kWatcherSlot = 1;

std::atomic<uint32_t> g_caps_count{0};
std::atomic<int32_t> g_caps_lowest{0x7FFFFFFF};
std::atomic<int32_t> g_caps_highest{-1};

// A start during shutdown is refused rather than waited for: the discovery thread, which the
// shutdown waits for, may be the one starting the watcher.
bool launch(int slot, void (*body)(void*)) {
  StoppableThreads::Start start(g_threads, false);
  return start.launch(slot, body);
}

void run_watcher(void*) { framework_hooks().lv1_watcher_thread(); }
void run_discovery(void*) { framework_hooks().discovery_thread(); }

}  // namespace

FrameworkHooks default_framework_hooks() {
  return FrameworkHooks{default_watcher, default_discovery, no_publish,
                        no_close,        no_desk_taken,     drop_event,
                        no_recall,       nothing_waiting,   no_notify};
}

FrameworkHooks& framework_hooks() { return g_hooks; }

void set_module_type_name(const char* name) { g_type_name.store(name ? name : "?"); }
const char* module_type_name() { return g_type_name.load(); }

GainObject* lv1_context() { return g_lv1_context.load(std::memory_order_acquire); }
bool desk_chosen() { return g_desk_chosen.load() != 0; }
void set_desk_chosen(bool chosen) { g_desk_chosen.store(chosen ? 1 : 0); }
bool searching() { return g_searching.load() != 0; }
void set_searching(bool on) { g_searching.store(on ? 1 : 0); }
bool stop_requested() { return g_stopping.load() != 0; }
bool framework_started() { return g_framework_started.load() != 0; }
bool watcher_started() { return g_watcher_started.load() != 0; }
uint32_t stuck_threads() { return g_stuck_threads.load(); }
bool driver_stop_running() { return g_driver_stops.load(std::memory_order_acquire) != 0; }
void add_stuck_thread() { g_stuck_threads.fetch_add(1); }
void set_framework_join_ms(uint32_t ms) { g_join_ms.store(ms); }

bool wait_stop(uint32_t ms) {
  if (stop_requested()) return true;
  bool signalled = bridge_clock().wait_stop(g_threads.stop_event(), ms);
  return signalled || stop_requested();
}

int module_start(const ModuleHost* host) {
  if (!host || host->version != kModuleApiVersion || host->size < kModuleHostSize) return 0;
  set_module_host(host);
  log_info("---- %s module %s started by the loader ----", module_type_name(), kModuleVersionText);
  framework_start();
  return 1;
}

void framework_start() {
  // Without a host (before start, after stop) there is nothing to log to and no settings file:
  // a gain move from LV1 then must not arm the module on its own.
  if (desk_chosen() || !module_host()) return;
  // Start may come from the loader and, through a gain or 48 V write, from LV1's threads at the
  // same time: only one of them arms the framework.
  uint32_t expected = 0;
  if (!g_framework_started.compare_exchange_strong(expected, 1)) return;
  net_startup();
  config_load(host_config_path());
  framework_hooks().status_publish();
  char ip[64];
  config_ip(ip);
  if (ip[0]) {
    if (is_dotted_ipv4(ip))
      log_info("[bridge] ip=%s: asking that address first (bank=%s base=%d)", ip,
               settings().bank.get().s, int(settings().base.load()));
    else
      log_info("[bridge] bad ip= in kestrune.cfg: %s - ignored, searching instead", ip);
  }
  set_searching(true);
  const DeskDriver* d = desk_driver();
  log_info("[bridge] searching for a %s ...", (d && d->model_name) ? d->model_name : "desk");
  if (!launch(kDiscoverySlot, run_discovery))
    log_info("[bridge] could not start the discovery thread");
}

void start_lv1_watcher() {
  if (stop_requested()) return;
  uint32_t expected = 0;
  if (!g_watcher_started.compare_exchange_strong(expected, 1)) return;
  if (!launch(kWatcherSlot, run_watcher)) {
    log_info("[bridge] could not start the LV1 watcher thread");
    g_watcher_started.store(0);  // a later attach or desk choice tries again
  }
}

void framework_attach(GainObject* live) {
  g_lv1_context.store(live, std::memory_order_release);
  start_lv1_watcher();
}

bool framework_shutdown() {
  if (g_stopping.exchange(1) != 0) return false;
  log_info("---- shutting down: stopping threads ----");

  // One budget for both threads together. One that does not come back runs on with everything
  // it uses left in place.
  const uint32_t budget = g_join_ms.load();
  const Tick started = tick_now();
  bool complete = g_threads.stop(budget, StoppableThreads::Budget::kShared).left == 0;

  g_lv1_context.store(nullptr, std::memory_order_release);
  // The driver joins its own threads (each with its own wait). The loader's thread may be LV1's,
  // so the driver's stop runs beside it and gets only what is left of the one budget: a driver
  // still stopping when it runs out counts as a stuck thread, and the module stays mapped.
  Thread dropper;
  g_driver_stops.fetch_add(1);
  if (dropper.start(
          [](void*) {
            drop_desk();
            g_driver_stops.fetch_sub(1, std::memory_order_release);
          },
          nullptr)) {
    const uint32_t spent = ticks_elapsed(tick_now(), started);
    if (!dropper.join(spent < budget ? budget - spent : 0)) {
      log_info("---- the desk driver did not stop within %u ms ----", budget);
      dropper.detach();
      complete = false;
    }
  } else {
    drop_desk();
    g_driver_stops.fetch_sub(1, std::memory_order_release);
  }

  if (complete) {
    // Nothing of ours runs any more: a later start begins afresh.
    set_desk_chosen(false);
    set_searching(false);
    g_framework_started.store(0);
    g_watcher_started.store(0);
    watcher_flags_reset();
    mailbox_reset_all();
    // Channels count as unread again: LV1's values must wait for the desk's after a restart.
    value_writer_reset();
    g_stopping.store(0);
  } else {
    // A thread that did not come back may still wait on the stop event or write to what it
    // used: keep all of it. `stopping` stays set, so no later start arms anything.
    add_stuck_thread();
    log_info("---- a thread did not come back; not re-arming ----");
  }
  log_info("---- threads stopped ----");
  return complete;
}

bool module_stop() {
  bool complete = framework_shutdown();
  framework_hooks().status_close(complete && stuck_threads() == 0);
  uint32_t stuck = stuck_threads();
  log_info("---- %s module stopped%s ----", module_type_name(),
           stuck ? " - a thread is still running, the loader keeps this module mapped" : "");
  set_module_host(nullptr);
  return stuck == 0;
}

// ---- Capability queries ----

namespace {
void keep_lowest(int32_t v) {
  int32_t cur = g_caps_lowest.load();
  while (v < cur && !g_caps_lowest.compare_exchange_weak(cur, v)) {}
}
void keep_highest(int32_t v) {
  int32_t cur = g_caps_highest.load();
  while (v > cur && !g_caps_highest.compare_exchange_weak(cur, v)) {}
}
}  // namespace

CapabilityQueries capability_queries() {
  return CapabilityQueries{g_caps_count.load(), g_caps_lowest.load(), g_caps_highest.load()};
}

void reset_capability_extremes() {
  g_caps_lowest.store(0x7FFFFFFF);
  g_caps_highest.store(-1);
}

bool module_has_preamp(uint32_t ch) {
  g_caps_count.fetch_add(1);
  keep_lowest(int32_t(ch));
  keep_highest(int32_t(ch));
  return ch < uint32_t(kChannelCount) && channel_has_head_amp(int(ch));
}

double module_gain_min(uint32_t ch) {
  return ch < uint32_t(kChannelCount) ? channel_gain_range(int(ch)).min : kUnknownRangeMin;
}
double module_gain_max(uint32_t ch) {
  return ch < uint32_t(kChannelCount) ? channel_gain_range(int(ch)).max : kUnknownRangeMax;
}
double module_gain_step(uint32_t ch) {
  return ch < uint32_t(kChannelCount) ? channel_gain_range(int(ch)).step : kUnknownRangeStep;
}

void lifecycle_reset_for_tests() {
  g_hooks = default_framework_hooks();
  g_lv1_context.store(nullptr);
  g_framework_started.store(0);
  g_desk_chosen.store(0);
  g_searching.store(0);
  g_watcher_started.store(0);
  g_stopping.store(0);
  g_stuck_threads.store(0);
  g_join_ms.store(kFrameworkJoinMs);
  g_caps_count.store(0);
  reset_capability_extremes();
  set_module_host(nullptr);
}

}  // namespace ks
