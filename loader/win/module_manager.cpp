// The console module manager: the module watcher thread, state.cfg, the module search with its
// signature check, loading, swapping and switching off, start and attach.
//
// Locks: module_lock (one watcher pass) is always taken before a type's module_srw. module_srw is
// held exclusively only to change the running-module fields, never across a call into the
// module; start and stop run outside it, attach under it shared. LV1's value calls only try
// module_srw shared (ModuleCall), so none waits for a swap; LV1's registration and release of
// its callback take it for a moment around those fields, and only ever try module_lock.
#include "loader/win/module_manager.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/held_file.h"
#include "crypto/module_signature.h"
#include "loader/module_manager_loop.h"
#include "loader/module_manager_rules.h"
#include "loader/win/loader_core.h"
#include "loader/win/loader_log.h"
#include "loader/win/module_seam.h"
#include "os/event.h"
#include "os/file.h"
#include "os/thread.h"
#include "os/win/wide.h"
#include "shared/names.h"

namespace ks {
namespace {

constexpr size_t kStateCfgMaxBytes = 1 << 20;

// What the manager keeps per type beside the spine's ConsoleTypeRecord.
struct ManagerState {
  RejectedFiles rejected;  // watcher thread only
  uint32_t last_counters[kCallCounters] = {};
  CriticalSection refresh_lock;   // one refresh_live_card at a time per type
  std::atomic<int> lv1_stops{0};  // stops running on LV1's thread right now
  bool starting = false;          // a start call is running (read and set under module_srw)
  std::atomic<bool> lv1_stop_refused{false};  // such a stop reported false for this load
};

ManagerState g_state[kConsoleTypes];
Event g_changed;

std::string loader_folder_utf8() { return win::narrow(loader_paths().loader_folder); }

std::u16string to_u16(const std::string& s) { return utf8_to_utf16(s); }

// The file name of a path converted to the ANSI code page, as the tray program reads it.
std::string ansi_file_name(const std::string& path) {
  std::wstring w = win::widen(failed_file_name(path));
  char buf[520] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), int(w.size()), buf, int(sizeof buf) - 1,
                              nullptr, nullptr);
  if (n < 0) n = 0;
  if (n > 63) n = 63;
  return std::string(buf, size_t(n));
}

// ---- state.cfg ----

void read_state_cfg() {
  const std::string path = path_join(loader_folder_utf8(), "state.cfg");
  std::string text;
  TypeSwitches sw[2];
  switch (read_file(path, kStateCfgMaxBytes, text)) {
    case ReadStatus::ok: parse_state_cfg(text, sw); break;
    case ReadStatus::missing: break;  // both on, nobody hands-off
    case ReadStatus::too_large:
    case ReadStatus::error:
      // Keep what the last readable file said rather than switching a type back on.
      loader_log(kLogLoader,
                 "[loader] %s could not be read - keeping the console switches as they were",
                 path.c_str());
      return;
  }
  for (int type = 0; type < int(kConsoleTypes); ++type) {
    ConsoleTypeRecord& t = console_type(type);
    const bool was_hands_off = t.hands_off != 0;
    {
      LockGuard<RwLock> g(t.module_srw);
      t.enabled = sw[type].enabled ? 1 : 0;
      t.hands_off = sw[type].hands_off ? 1 : 0;
    }
    if (was_hands_off != sw[type].hands_off)
      write_log_line(t.log_channel, hands_off_log_line(t.type_name, sw[type].hands_off).c_str());
  }
}

// ---- the call counters of LV1's questions ----

void log_counter_changes(int type) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  uint32_t now[kCallCounters], diff[kCallCounters];
  bool changed = false;
  for (int i = 0; i < kCallCounters; ++i) {
    now[i] = read_counter(t, CallCounter(i));
    diff[i] = now[i] - m.last_counters[i];
    changed |= diff[i] != 0;
    m.last_counters[i] = now[i];
  }
  if (!changed) return;
  loader_log(
      t.log_channel,
      "[lv1] LV1 asked: has preamp %ld (yes %ld, while no module ran %ld), has 48V %ld, range %ld, gain get "
      "%ld / set %ld, 48V get %ld / set %ld, ConsoleIO %ld",
      long(diff[kCountHasPreamp]), long(diff[kCountHasPreampYes]), long(diff[kCountFromCache]),
      long(diff[kCountHas48v]), long(diff[kCountRange]), long(diff[kCountGainGet]),
      long(diff[kCountGainSet]), long(diff[kCount48vGet]), long(diff[kCount48vSet]),
      long(diff[kCountConsoleIO]));
}

// ---- loading ----

// A table the loader can use: the version it asked for, big enough, the right type, and every
// operation the loader calls present.
bool usable_table(const ConsoleModuleTable* m, const char* type_name) {
  return m && m->version == kModuleApiVersion && m->size >= kModuleTableSize && m->type_name &&
         std::strcmp(m->type_name, type_name) == 0 && m->start && m->stop && m->attach &&
         m->set_gain && m->set_phantom && m->has_preamp && m->gain_min && m->gain_max &&
         m->gain_step && m->session_recall;
}

// The old module after take-and-clear: stop it (when started) and unmap it unless it may still
// run code. A stop that LV1's thread started is waited for first (the watcher may wait; LV1's
// threads never wait for the watcher).
void retire_module(int type, const ConsoleModuleTable* table, HMODULE handle, bool started) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  bool unmap = true;
  if (started) {
    if (!table->stop()) {
      loader_log(t.log_channel,
                 "[loader] old module did not stop cleanly - left mapped (not unloaded)");
      unmap = false;
    }
  } else {
    while (m.lv1_stops.load() > 0) Sleep(5);
    if (m.lv1_stop_refused.load()) {
      loader_log(t.log_channel,
                 "[loader] old module did not stop cleanly - left mapped (not unloaded)");
      unmap = false;
    }
  }
  if (unmap && handle) FreeLibrary(handle);
}

// Takes the running module out of the record: afterwards no LV1 call reaches it.
void take_running(ConsoleTypeRecord& t, const ConsoleModuleTable*& table, HMODULE& handle,
                  bool& started) {
  LockGuard<RwLock> g(t.module_srw);
  table = t.table;
  handle = static_cast<HMODULE>(t.module_handle);
  started = t.started != 0;
  t.table = nullptr;
  t.started = 0;
  t.attached = nullptr;
}

void clear_running_names(ConsoleTypeRecord& t) {
  LockGuard<RwLock> g(t.module_srw);
  t.version_text[0] = '\0';
  t.module_path.clear();
  t.module_handle = nullptr;
}

const char* box_state_text(const DeviceBox* b) {
  if (!b) return "none";
  return box_released(b) ? "released" : "live";
}

void switch_off(int type) {
  ConsoleTypeRecord& t = console_type(type);
  const ConsoleModuleTable* table;
  HMODULE handle;
  bool started;
  take_running(t, table, handle, started);
  std::string old_version = t.version_text;

  bool noted[kChannels] = {}, asked[kChannels] = {};
  if (started) {
    for (uint32_t ch = 0; ch < kChannels; ++ch) {
      noted[ch] = table->has_preamp(ch);
      asked[ch] = true;
    }
  }
  retire_module(type, table, handle, started);
  loader_log(t.log_channel, "[loader] %s %s %s", t.type_name, old_version.c_str(), "switched off");
  clear_running_names(t);

  int knobs = 0, lv1_asked = 0, with_preamp = 0;
  bool knob[kChannels] = {};
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    const bool cached = __atomic_exchange_n(&t.has_preamp[ch], 0u, __ATOMIC_ACQ_REL) != 0;
    lv1_asked += cached;
    with_preamp += noted[ch];
    knob[ch] = asked[ch] ? noted[ch] : cached;
    knobs += knob[ch];
  }
  DeviceBox* b = live_box(type);
  const ConsoleIOStub* stub = b ? stub_at(b->index) : nullptr;
  const ConsoleIOHost* host = stub ? __atomic_load_n(&stub->host, __ATOMIC_ACQUIRE) : nullptr;
  loader_log(
      t.log_channel,
      "[redraw] %s off: %d strip(s) had a knob (%d LV1 asked about, %d with a preamp in the module); device box "
      "%s%s, ConsoleIO callback %s",
      t.type_name, knobs, lv1_asked, with_preamp, box_state_text(b),
      b && !box_online(b) ? " (no MAC)" : "",
      host   ? "set"
      : stub ? "never set by LV1"
             : "not asked for");
  for (int ch = 0; ch < int(kChannels); ++ch)
    if (knob[ch]) rebuild_strips(type, ch);
  if (b && !box_released(b) && b->listener && box_online(b) &&
      !lv1_channel_type_state_changed(b->listener, b->mac))
    loader_log(t.log_channel, "[loader] asking LV1 to re-read the card faulted");
}

// Loads the verified file while it is still held, so the bytes checked are the bytes mapped;
// dependencies come from the system folder only, never from beside the module.
HMODULE load_held(const std::string& path, std::unique_ptr<HeldFile>& held, uint32_t& error) {
  HMODULE h = LoadLibraryExW(win::widen(path).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  error = h ? 0 : GetLastError();
  held.reset();
  return h;
}

void swap_in(int type, HMODULE handle, const ConsoleModuleTable* table, const FoundModule& found) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  const ConsoleModuleTable* old_table;
  HMODULE old_handle;
  bool old_started;
  take_running(t, old_table, old_handle, old_started);
  if (old_handle) {
    std::string old_version = t.version_text;
    retire_module(type, old_table, old_handle, old_started);
    loader_log(t.log_channel, "[loader] %s %s %s", t.type_name, old_version.c_str(), "replaced");
    clear_running_names(t);
  }
  m.lv1_stop_refused = false;
  {
    LockGuard<RwLock> g(t.module_srw);
    t.table = table;
    t.module_handle = handle;
    std::snprintf(t.version_text, sizeof t.version_text, "%s", found.version.c_str());
    t.module_path = to_u16(found.path);
  }
  loader_log(t.log_channel, "[loader] %s module %s loaded from %s", t.type_name,
             found.version.c_str(), found.path.c_str());
  if (old_started || live_gain_object(type)) start_console_module(type);
}

// One load/swap/switch-off decision for the type (module_lock held). A file that will not load
// is rejected for the life of the process and the next-newest is tried, until none is left.
void load_console_module(int type) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  const std::string folder = path_join(loader_folder_utf8(), "modules");
  for (;;) {
    std::vector<DirEntry> entries;
    std::vector<std::string> names;
    if (list_dir(folder, entries))
      for (const DirEntry& e : entries)
        if (!e.is_dir) names.push_back(e.name);

    FoundModule found;
    std::unique_ptr<HeldFile> held;
    bool want = false;
    if (t.enabled && !t.hands_off) {
      want = find_newest_module(
          names, folder, t.type_name, m.rejected,
          [&](const std::string& path) {
            auto h = std::make_unique<HeldFile>();
            if (!verify_module_file(path, *h)) return false;
            held = std::move(h);  // the newest verified file stays held
            return true;
          },
          [&](const std::string& line) { write_log_line(t.log_channel, line.c_str()); }, found);
    }
    std::string running_path;
    bool runs;
    {
      SharedGuard g(t.module_srw);
      runs = t.module_handle != nullptr;
      running_path = utf16_to_utf8(t.module_path);
    }
    switch (decide_module_action(want, runs, found.path, running_path)) {
      case ModuleAction::keep: return;
      case ModuleAction::switch_off: switch_off(type); return;
      case ModuleAction::load:
      case ModuleAction::replace: break;
    }

    uint32_t error = 0;
    HMODULE h = load_held(found.path, held, error);
    const ConsoleModuleTable* table = nullptr;
    if (h) {
      auto entry = reinterpret_cast<ModuleEntryFn>(
          reinterpret_cast<void*>(GetProcAddress(h, kModuleEntryName)));
      table = entry ? entry(kModuleApiVersion) : nullptr;
      if (usable_table(table, t.type_name)) {
        swap_in(type, h, table, found);
        return;
      }
      error = 1;
    }
    if (error == 0) error = 1;
    write_log_line(t.log_channel, load_failure_log_line(found.path, error, table, runs).c_str());
    if (h) FreeLibrary(h);
    note_load_failure(type, ansi_file_name(found.path).c_str(), error);
    m.rejected.add(found.path);
  }
}

void start_modules_watcher_thread(void*) {
  Event* changed = g_changed.create_named(kModulesChangedEventName, Event::Reset::automatic)
                       ? &g_changed
                       : nullptr;
  if (!changed)
    loader_log(kLogLoader, "[loader] %s could not be created - modules are looked at once",
               kModulesChangedEventName);
  run_modules_watcher(system_clock(), changed, modules_watcher_pass, [] { return true; });
}

}  // namespace

namespace {

// A loaded module that was never started although the type has a live card: LV1 registered its
// callback while a pass held module_lock, and LV1's thread only tries that lock.
bool start_pending(int type) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  {
    SharedGuard g(t.module_srw);
    if (!t.table || t.started || m.starting) return false;
  }
  // A stop still running on LV1's thread makes the start up itself once it has finished.
  if (m.lv1_stops.load() > 0) return false;
  return live_gain_object(type) != nullptr;
}

}  // namespace

uint32_t modules_watcher_pass() {
  for (int type = 0; type < int(kConsoleTypes); ++type) log_counter_changes(type);
  uint32_t wait;
  {
    LockGuard<CriticalSection> pass(module_lock());
    read_state_cfg();
    for (int type = 0; type < int(kConsoleTypes); ++type) {
      if (console_type(type).waves_module) load_console_module(type);
      publish_type_status(type);
    }
    wait = serve_identify_requests(kInfinite);
  }
  // LV1 stores its callback before it tries module_lock, so a registration that found the
  // lock busy during the pass is visible here, after the lock was let go: its start is made
  // up now instead of being lost until the next file change.
  for (int type = 0; type < int(kConsoleTypes); ++type) {
    if (!start_pending(type)) continue;
    LockGuard<CriticalSection> again(module_lock());
    if (start_pending(type)) start_console_module(type);
  }
  return wait;
}

void start_modules_watcher() {
  Thread th;
  if (!th.start(&start_modules_watcher_thread, nullptr)) {
    loader_log(kLogLoader, "[loader] the module watcher thread could not be started");
    return;
  }
  th.detach();  // runs for the life of the process
}

// module_lock is held by the caller (a watcher pass, or LV1's callback registration that got
// it), so no swap can come between the start and the flag. The flag is set only once start has
// returned: until then LV1's calls find the module not running and keep their values cached.
//
// A start never overlaps a stop of the same module: while LV1's thread stops it, the start is
// left to that thread, which makes it up when the stop is over (start_pending).
void start_console_module(int type) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  const ConsoleModuleTable* table;
  {
    LockGuard<RwLock> g(t.module_srw);
    table = t.table;
    if (!table || t.started || m.starting || m.lv1_stops.load() > 0) return;
    m.starting = true;
  }
  table->start(&t.host);
  {
    LockGuard<RwLock> g(t.module_srw);
    m.starting = false;
    if (t.table == table) {
      t.started = 1;
      t.attached = nullptr;
    }
  }
  refresh_live_card(type);
}

// Serialised per type, and the live card is looked up inside, so two LV1 threads changing cards
// at once cannot leave the module attached to the older answer.
void refresh_live_card(int type) {
  ConsoleTypeRecord& t = console_type(type);
  LockGuard<CriticalSection> serial(g_state[type].refresh_lock);
  GainObject* live = live_gain_object(type);
  publish_type_status(type);
  bool changed;
  {
    SharedGuard g(t.module_srw);
    changed = live != t.attached;
    if (changed && t.table && t.started && live) t.table->attach(live);
  }
  if (changed) {
    LockGuard<RwLock> g(t.module_srw);
    t.attached = live;
  }
}

void stop_console_module_for_lv1(int type) {
  ConsoleTypeRecord& t = console_type(type);
  ManagerState& m = g_state[type];
  const ConsoleModuleTable* table;
  bool was_started;
  for (;;) {
    {
      LockGuard<RwLock> g(t.module_srw);
      // A start in flight (another LV1 thread, or the watcher) is waited out rather than
      // missed: it is short, and stopping a module halfway into its start would leave it
      // running with nobody to stop it. No lock is held while waiting.
      if (!m.starting) {
        was_started = t.started != 0;
        table = t.table;
        t.started = 0;
        t.attached = nullptr;
        if (was_started && table) ++m.lv1_stops;  // seen by a swap or a start meanwhile
        break;
      }
    }
    Sleep(1);
  }
  if (!was_started || !table) return;
  const bool clean = table->stop();
  if (!clean) m.lv1_stop_refused = true;
  --m.lv1_stops;
  loader_log(t.log_channel, "[loader] %s stopped: LV1 released the device%s", t.type_name,
             clean ? "" : " (not cleanly - it stays mapped)");
  // LV1 may have registered a callback again while the module stopped: that start is made up
  // now. When a pass (or another registration) holds module_lock, the watcher is woken to do
  // it at the end of its pass instead, so this thread never waits for the lock.
  if (!start_pending(type)) return;
  if (module_lock().try_lock()) {
    if (start_pending(type)) start_console_module(type);
    module_lock().unlock();
  } else {
    g_changed.set();
  }
}

}  // namespace ks
