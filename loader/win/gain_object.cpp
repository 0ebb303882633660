// The 64 gain objects LV1 gets for "WavesIOBoxGain", their value caches, the console module's
// host callbacks, and the two notifier threads that tell LV1 what changed.
#include <cmath>
#include <cstring>

#include "loader/quiet_wait.h"
#include "loader/value_rules.h"
#include "loader/win/loader_core.h"
#include "loader/win/loader_log.h"
#include "loader/win/module_manager.h"
#include "loader/win/module_seam.h"
#include "os/event.h"
#include "os/thread.h"

extern "C" void ks_zero_slot();

namespace ks {

namespace {

GainObject g_objects[kMaxDeviceBoxes];
uint32_t g_notify[kMaxDeviceBoxes];       // atomic: box wants a device-state notice
uint32_t g_strip_mask[kConsoleTypes][2];  // atomic: strips to redraw, bit ch of word ch / 32
Event g_state_event;
Event g_redraw_event;

int object_number(const GainObject* o) { return gain_object_index(o) + 1; }

void store_gain(GainObject* o, int ch, double db) {
  __atomic_store(&o->gain[ch], &db, __ATOMIC_RELAXED);
}
double load_gain(const GainObject* o, int ch) {
  double v;
  __atomic_load(&o->gain[ch], &v, __ATOMIC_RELAXED);
  return v;
}
void store_phantom(GainObject* o, int ch, bool on) {
  __atomic_store_n(&o->phantom[ch], on ? 1 : 0, __ATOMIC_RELAXED);
}
bool load_phantom(const GainObject* o, int ch) {
  return __atomic_load_n(&o->phantom[ch], __ATOMIC_RELAXED) != 0;
}

void store_double(double* at, double v) { __atomic_store(at, &v, __ATOMIC_RELAXED); }
double load_double(const double* at) {
  double v;
  __atomic_load(at, &v, __ATOMIC_RELAXED);
  return v;
}

// The object's type record, or null when its box has no type.
ConsoleTypeRecord* type_of(const DeviceBox* b) {
  return (b && b->console_type >= 0) ? &console_type(b->console_type) : nullptr;
}

// ---- LV1's slots ----

bool module_has_preamp(GainObject* o, uint32_t ch) {
  DeviceBox* b = box_of(o);
  ConsoleTypeRecord* t = type_of(b);
  if (ch >= kChannels || !t || is_not_live_card(b)) return false;
  bool yes;
  {
    ModuleCall m(*t);
    if (m.running()) {
      yes = m.table().has_preamp(ch);
      __atomic_store_n(&t->has_preamp[ch], yes ? 1u : 0u, __ATOMIC_RELAXED);
    } else {
      yes = __atomic_load_n(&t->has_preamp[ch], __ATOMIC_RELAXED) != 0;
      count_call(*t, kCountFromCache);
    }
  }
  if (yes) count_call(*t, kCountHasPreampYes);
  return yes;
}

bool KS_ABI gain_has_preamp(GainObject* o, uint32_t ch) {
  if (ConsoleTypeRecord* t = type_of(box_of(o))) count_call(*t, kCountHasPreamp);
  return module_has_preamp(o, ch);
}

bool KS_ABI gain_has_48v(GainObject* o, uint32_t ch) {
  if (ConsoleTypeRecord* t = type_of(box_of(o))) count_call(*t, kCountHas48v);
  return module_has_preamp(o, ch);
}

double range_query(GainObject* o, uint32_t ch, RangeKind kind) {
  ConsoleTypeRecord* t = type_of(box_of(o));
  if (ch >= kChannels || !t) return range_default(kind);
  if (kind == RangeKind::kMin) count_call(*t, kCountRange);
  double* cache = kind == RangeKind::kMin   ? t->gain_min
                  : kind == RangeKind::kMax ? t->gain_max
                                            : t->gain_step;
  {
    ModuleCall m(*t);
    if (m.running()) {
      const ConsoleModuleTable& mt = m.table();
      double v = kind == RangeKind::kMin   ? mt.gain_min(ch)
                 : kind == RangeKind::kMax ? mt.gain_max(ch)
                                           : mt.gain_step(ch);
      if (range_answer_usable(v)) {
        store_double(&cache[ch], v);
        return v;
      }
    }
  }
  return range_from_cache(kind, load_double(&cache[ch]));
}

double KS_ABI gain_min_query(GainObject* o, uint32_t ch) {
  return range_query(o, ch, RangeKind::kMin);
}
double KS_ABI gain_max_query(GainObject* o, uint32_t ch) {
  return range_query(o, ch, RangeKind::kMax);
}
double KS_ABI gain_step_query(GainObject* o, uint32_t ch) {
  return range_query(o, ch, RangeKind::kStep);
}

void KS_ABI gain_set(GainObject* o, int32_t ch, double db) {
  DeviceBox* b = box_of(o);
  ConsoleTypeRecord* t = type_of(b);
  if (t) count_call(*t, kCountGainSet);
  if (ch < 0 || ch >= static_cast<int32_t>(kChannels)) return;
  const int log = box_log_channel(b);
  const int n = object_number(o);
  const double was = load_gain(o, ch);
  switch (decide_gain_set(ch, db, was, !is_not_live_card(b))) {
    case SetDecision::kIgnore: return;
    case SetDecision::kNotFinite:
      loader_log(log, "LV1 -> gain ch=%d %f dB via object #%d [not a finite value - ignored]", ch,
                 db, n);
      return;
    case SetDecision::kNotLive:
      loader_log(log,
                 "LV1 -> gain ch=%d %.1f dB via object #%d [not the console's live card - ignored]",
                 ch, db, n);
      return;
    case SetDecision::kSame:
      loader_log(log, "LV1 -> gain ch=%d %.1f dB via object #%d [same as cached - not re-sent]", ch,
                 db, n);
      return;
    case SetDecision::kStore: break;
  }
  loader_log(log, "LV1 -> gain ch=%d %.1f dB via object #%d (was %.1f)", ch, db, n, was);
  store_gain(o, ch, db);
  flag_box_state(b->index);
  mark_strip_dirty(b->console_type, ch);
  {
    ModuleCall m(*t);
    if (m.running()) {
      m.table().set_gain(static_cast<uint32_t>(ch), db);
      return;
    }
  }
  loader_log(log, "SET gain ch=%d %.1f dB  [module not running - not sent]", ch, db);
}

double KS_ABI gain_get(GainObject* o, uint32_t ch) {
  if (ConsoleTypeRecord* t = type_of(box_of(o))) count_call(*t, kCountGainGet);
  return ch < kChannels ? load_gain(o, static_cast<int>(ch)) : 0.0;
}

void KS_ABI phantom_set(GainObject* o, uint32_t ch, uint8_t on_byte) {
  DeviceBox* b = box_of(o);
  ConsoleTypeRecord* t = type_of(b);
  if (t) count_call(*t, kCount48vSet);
  if (ch >= kChannels) return;
  const bool on = on_byte != 0;
  const int c = static_cast<int>(ch);
  const int log = box_log_channel(b);
  const int n = object_number(o);
  switch (decide_phantom_set(ch, on, load_phantom(o, c), !is_not_live_card(b))) {
    case SetDecision::kIgnore:
    case SetDecision::kNotFinite: return;
    case SetDecision::kNotLive:
      loader_log(log, "LV1 -> 48V ch=%d %d via object #%d [not the console's live card - ignored]",
                 c, on, n);
      return;
    case SetDecision::kSame:
      loader_log(log, "LV1 -> 48V ch=%d %d via object #%d [same as cached - not re-sent]", c, on,
                 n);
      return;
    case SetDecision::kStore: break;
  }
  loader_log(log, "LV1 -> 48V ch=%d %d via object #%d", c, on, n);
  store_phantom(o, c, on);
  flag_box_state(b->index);
  mark_strip_dirty(b->console_type, c);
  {
    ModuleCall m(*t);
    if (m.running()) {
      m.table().set_phantom(ch, on ? 1u : 0u);
      return;
    }
  }
  loader_log(log, "SET 48V ch=%d %d  [module not running - not sent]", c, on);
}

bool KS_ABI phantom_get(GainObject* o, uint32_t ch) {
  if (ConsoleTypeRecord* t = type_of(box_of(o))) count_call(*t, kCount48vGet);
  return ch < kChannels && load_phantom(o, static_cast<int>(ch));
}

void KS_ABI set_gain_changed_callback(GainObject* o, GainChangedCallback* cb) {
  __atomic_store_n(&o->callback, cb, __ATOMIC_RELEASE);
  DeviceBox* b = box_of(o);
  loader_log(box_log_channel(b), "GOT gain_changed_callback=%p", static_cast<void*>(cb));
  ConsoleTypeRecord* t = type_of(b);
  if (!t) return;
  const int type = b->console_type;
  if (cb) {
    // A watcher pass in progress starts the module itself; LV1 never waits for it.
    if (module_lock().try_lock()) {
      start_console_module(type);
      module_lock().unlock();
    }
    refresh_live_card(type);
    return;
  }
  if (live_gain_object(type)) {
    refresh_live_card(type);
    return;
  }
  // The manager counts this stop, so that a swap meanwhile never unmaps a module still stopping.
  stop_console_module_for_lv1(type);
}

// ---- the console module's host callbacks ----

template <int Type>
GainObject* KS_ABI host_live_gain_object() {
  return live_gain_object(Type);
}

template <int Type>
bool KS_ABI host_get_mac(uint8_t* out) {
  DeviceBox* b = live_box(Type);
  if (!b || !box_online(b) || !out) return false;
  std::memcpy(out, b->mac, kMacBytes);
  return true;
}

template <int Type>
IoBoxListener* KS_ABI host_lv1_listener() {
  DeviceBox* b = live_box(Type);
  if (!b || box_released(b)) return nullptr;
  return __atomic_load_n(&b->listener, __ATOMIC_ACQUIRE);
}

template <int Type>
void KS_ABI host_rebuild_strip(int32_t ch) {
  if (ch > 63) return;
  rebuild_strips(Type, ch);
}

void KS_ABI host_log(const char* ctx, int32_t, const char* text) {
  if (text) write_log_line(host_log_channel(ctx), text);
}

void KS_ABI report_to_lv1(GainObject* o, int32_t ch, double db, uint32_t has_gain, uint32_t on,
                          uint32_t has_48v, uint32_t forced) {
  const int idx = gain_object_index(o);
  if (idx < 0 || ch < 0 || ch >= static_cast<int32_t>(kChannels)) return;
  GainChangedCallback* cb = __atomic_load_n(&o->callback, __ATOMIC_ACQUIRE);
  DeviceBox* b = box_at(idx);
  // A released or offline box's callback may belong to an LV1 object that is gone.
  if (!cb || !b || !box_online(b) || box_released(b) || box_offline(b)) return;
  const int log = box_log_channel(b);
  const char* suffix = forced ? " (forced)" : "";
  if (has_gain) {
    const double cached = load_gain(o, ch);
    if (!std::isfinite(db)) {
      loader_log(log, "<- LV1 gain ch=%d %f dB via object #%d [not a finite value - dropped]", ch,
                 db, idx + 1);
    } else if (report_gain_passes(cached, db, forced != 0)) {
      loader_log(log, "<- LV1 gain ch=%d %.1f dB via object #%d%s", ch, db, idx + 1, suffix);
      if (db != cached) flag_box_state(idx);
      store_gain(o, ch, db);
      if (!lv1_gain_changed(cb, b->mac, ch, db))
        loader_log(log, "[lv1] telling LV1 gain ch=%d changed faulted", ch);
    }
  }
  if (has_48v) {
    const bool want = on != 0;
    const bool cached = load_phantom(o, ch);
    if (!report_phantom_passes(cached, want, forced != 0)) return;
    loader_log(log, "<- LV1 48V ch=%d %d via object #%d%s", ch, want, idx + 1, suffix);
    if (want != cached) flag_box_state(idx);
    store_phantom(o, ch, want);
    if (!lv1_phantom_changed(cb, b->mac, ch, want ? 1u : 0u))
      loader_log(log, "[lv1] telling LV1 48V ch=%d changed faulted", ch);
  }
}

// ---- threads ----

void state_notify_thread(void*) {
  for (;;) {
    wait_for_quiet(system_clock(), g_state_event, kStateQuietMs);
    const int n = box_count();
    for (int i = 0; i < n; ++i) {
      if (__atomic_exchange_n(&g_notify[i], 0u, __ATOMIC_ACQ_REL) == 0) continue;
      DeviceBox* b = box_at(i);
      if (!b || box_released(b) || !box_online(b)) continue;
      IoBoxListener* l = __atomic_load_n(&b->listener, __ATOMIC_ACQUIRE);
      if (!l) continue;
      if (!lv1_device_state_changed(l, b->mac))
        loader_log(box_log_channel(b), "[chunk] telling LV1 the device state changed faulted");
    }
  }
}

void redraw_thread(void*) {
  for (;;) {
    g_redraw_event.wait(kInfinite);
    sleep_ms(10);
    for (int type = 0; type < static_cast<int>(kConsoleTypes); ++type) {
      for (int word = 0; word < 2; ++word) {
        uint32_t bits = __atomic_exchange_n(&g_strip_mask[type][word], 0u, __ATOMIC_ACQ_REL);
        for (int bit = 0; bit < 32; ++bit)
          if (bits & (1u << bit)) rebuild_strips(type, word * 32 + bit);
      }
    }
  }
}

void mac_settle_thread(void* arg) {
  const int index = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  sleep_ms(20000);
  flag_box_state(index);
}

bool start_detached(void (*fn)(void*), void* arg) {
  Thread t;
  if (!t.start(fn, arg)) return false;
  t.detach();
  return true;
}

}  // namespace

GainObject* gain_object(int index) {
  return (index >= 0 && index < static_cast<int>(kMaxDeviceBoxes)) ? &g_objects[index] : nullptr;
}

int gain_object_index(const GainObject* obj) {
  if (obj < &g_objects[0] || obj >= &g_objects[kMaxDeviceBoxes]) return -1;
  return static_cast<int>(obj - &g_objects[0]);
}

void fill_gain_objects() {
  SlotFn zero = reinterpret_cast<SlotFn>(&ks_zero_slot);
  for (GainObject& o : g_objects) {
    o.op0 = zero;
    o.gain_has_preamp = &gain_has_preamp;
    o.gain_min_query = &gain_min_query;
    o.gain_max_query = &gain_max_query;
    o.gain_step_query = &gain_step_query;
    o.gain_set = &gain_set;
    o.gain_get = &gain_get;
    o.gain_has_48v = &gain_has_48v;
    o.phantom_set = &phantom_set;
    o.phantom_get = &phantom_get;
    for (SlotFn& s : o.unused10_24) s = zero;
    o.set_gain_changed_callback = &set_gain_changed_callback;
  }
}

void flag_box_state(int index) {
  if (index < 0 || index >= static_cast<int>(kMaxDeviceBoxes)) return;
  __atomic_store_n(&g_notify[index], 1u, __ATOMIC_RELEASE);
  g_state_event.set();
}

void mark_strip_dirty(int type, int ch) {
  if (type < 0 || type >= static_cast<int>(kConsoleTypes) || ch < 0 ||
      ch >= static_cast<int>(kChannels))
    return;
  __atomic_fetch_or(&g_strip_mask[type][ch / 32], 1u << (ch % 32), __ATOMIC_ACQ_REL);
  g_redraw_event.set();
}

bool rebuild_strips(int type, int ch) {
  DeviceBox* b = live_box(type);
  if (!b || box_released(b) || !box_online(b)) return true;
  ConsoleIOStub* stub = stub_at(b->index);
  ConsoleIOHost* host = stub ? __atomic_load_n(&stub->host, __ATOMIC_ACQUIRE) : nullptr;
  if (!host) return true;
  const int first = ch < 0 ? 0 : ch;
  const int last = ch < 0 ? static_cast<int>(kChannels) - 1 : ch;
  for (int c = first; c <= last; ++c) {
    if (!lv1_rebuild_strip(host, b->mac, c)) {
      loader_log(console_type(type).log_channel, "[redraw] asking LV1 to rebuild strip %d faulted",
                 c);
      return false;
    }
  }
  return true;
}

bool start_notify_threads() {
  if (!g_state_event.create(Event::Reset::automatic) ||
      !start_detached(state_notify_thread, nullptr))
    return false;
  if (!g_redraw_event.create(Event::Reset::automatic) || !start_detached(redraw_thread, nullptr))
    return false;
  return true;
}

void start_mac_settle(int index) {
  start_detached(mac_settle_thread, reinterpret_cast<void*>(static_cast<intptr_t>(index)));
}

void fill_module_hosts() {
  using HostFn = void (*)(ModuleHost&);
  static const HostFn fill[kConsoleTypes] = {
      [](ModuleHost& h) {
        h.live_gain_object = &host_live_gain_object<0>;
        h.get_mac = &host_get_mac<0>;
        h.lv1_listener = &host_lv1_listener<0>;
        h.rebuild_strip = &host_rebuild_strip<0>;
      },
      [](ModuleHost& h) {
        h.live_gain_object = &host_live_gain_object<1>;
        h.get_mac = &host_get_mac<1>;
        h.lv1_listener = &host_lv1_listener<1>;
        h.rebuild_strip = &host_rebuild_strip<1>;
      },
  };
  for (int type = 0; type < static_cast<int>(kConsoleTypes); ++type) {
    ConsoleTypeRecord& t = console_type(type);
    const std::wstring& folder = loader_paths().loader_folder;
    t.config_path.assign(folder.begin(), folder.end());
    t.config_path += u"\\";
    for (const char* c = t.type_name; *c; ++c) t.config_path += static_cast<char16_t>(*c);
    t.config_path += u".cfg";
    ModuleHost& h = t.host;
    h.version = kModuleApiVersion;
    h.size = kModuleHostSize;
    h.ctx = t.type_name;
    h.config_path = t.config_path.c_str();
    h.status_suffix = t.status_suffix;
    h.log = &host_log;
    h.report_to_lv1 = &report_to_lv1;
    fill[type](h);
  }
}

}  // namespace ks
