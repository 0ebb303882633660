// Process-wide state of the loader, the live card rule over the box table, and the guarded
// calls into LV1's objects.
#include "loader/win/loader_core.h"

#include "loader/live_card.h"
#include "loader/win/guard.h"
#include "loader/win/loader_log.h"

namespace ks {

namespace {

DeviceBox* g_boxes[kMaxDeviceBoxes];
ConsoleIOStub* g_stubs[kMaxDeviceBoxes];
int32_t g_box_counter = 0;
CardRuntime g_cards[kCardRows];

// Cuts the last n components of a path ("C:\a\b\c", 1 -> "C:\a\b").
std::wstring cut_components(std::wstring path, int n) {
  for (int i = 0; i < n; ++i) {
    size_t at = path.find_last_of(L"\\/");
    if (at == std::wstring::npos) return std::wstring();
    path.resize(at);
  }
  return path;
}

}  // namespace

LoaderPaths& loader_paths() {
  static LoaderPaths paths;
  return paths;
}

CardRuntime& card_runtime(int row) { return g_cards[row < 0 || row >= kCardRows ? 0 : row]; }

CriticalSection& module_lock() {
  static CriticalSection lock;
  return lock;
}

void loader_attach(HMODULE self) {
  module_lock();
  log_attach();
  // LV1 may free its I/O modules while our threads still run in them: stay mapped.
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&loader_attach), &pinned);
  wchar_t path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2) {
    LoaderPaths& p = loader_paths();
    p.loader_folder = cut_components(std::wstring(path, n), 1);
    p.module_root = cut_components(p.loader_folder, 3);
  }
  fill_gain_objects();
  AddVectoredExceptionHandler(0, on_access_violation);
  loader_log(kLogLoader, "---- Kestrune loader attached (%s) ----", kLoaderVersionText);
}

void loader_detach() { log_detach(); }

// ---- box table ----

int box_count() {
  int n = __atomic_load_n(&g_box_counter, __ATOMIC_ACQUIRE);
  return n > static_cast<int>(kMaxDeviceBoxes) ? static_cast<int>(kMaxDeviceBoxes) : n;
}

DeviceBox* box_at(int i) {
  if (i < 0 || i >= static_cast<int>(kMaxDeviceBoxes)) return nullptr;
  return __atomic_load_n(&g_boxes[i], __ATOMIC_ACQUIRE);
}

void publish_box(DeviceBox* box) { __atomic_store_n(&g_boxes[box->index], box, __ATOMIC_RELEASE); }

int take_box_index() { return __atomic_fetch_add(&g_box_counter, 1, __ATOMIC_ACQ_REL); }

ConsoleIOStub* stub_at(int index) {
  if (index < 0 || index >= static_cast<int>(kMaxDeviceBoxes)) return nullptr;
  return __atomic_load_n(&g_stubs[index], __ATOMIC_ACQUIRE);
}

void publish_stub(int index, ConsoleIOStub* stub) {
  __atomic_store_n(&g_stubs[index], stub, __ATOMIC_RELEASE);
}

DeviceBox* box_of(const GainObject* obj) { return box_at(gain_object_index(obj)); }

int box_log_channel(const DeviceBox* box) {
  if (!box || box->console_type < 0) return kLogLoader;
  return console_type(box->console_type).log_channel;
}

bool box_released(const DeviceBox* b) {
  return __atomic_load_n(&b->released, __ATOMIC_ACQUIRE) != 0;
}
bool box_online(const DeviceBox* b) { return __atomic_load_n(&b->online, __ATOMIC_ACQUIRE) != 0; }
bool box_offline(const DeviceBox* b) { return __atomic_load_n(&b->offline, __ATOMIC_ACQUIRE) != 0; }

namespace {

// A snapshot of the box table as the live-card rule sees it.
int box_facts(BoxFacts (&facts)[kMaxDeviceBoxes]) {
  const int n = box_count();
  for (int i = 0; i < n; ++i) {
    const DeviceBox* b = box_at(i);
    const GainObject* g = gain_object(i);
    facts[i] =
        BoxFacts{b != nullptr,         b ? b->console_type : -1,
                 b && box_released(b), b && box_offline(b),
                 b && box_online(b),   __atomic_load_n(&g->callback, __ATOMIC_ACQUIRE) != nullptr};
  }
  return n;
}

}  // namespace

GainObject* live_gain_object(int type) {
  BoxFacts facts[kMaxDeviceBoxes];
  const int n = box_facts(facts);
  const int live = live_card_index(facts, n, type);
  return live < 0 ? nullptr : gain_object(live);
}

DeviceBox* live_box(int type) { return box_of(live_gain_object(type)); }

bool is_not_live_card(const DeviceBox* box) {
  if (!box) return true;
  BoxFacts facts[kMaxDeviceBoxes];
  const int n = box_facts(facts);
  return ks::is_not_live_card(facts, n, box->index);
}

// ---- guarded calls into LV1 ----

bool lv1_identify(IoBoxListener* l, const uint8_t* mac, uint8_t on) {
  auto call = [=] { l->identify(l, mac, on); };
  return guarded(call);
}

bool lv1_device_state_changed(IoBoxListener* l, const uint8_t* mac) {
  auto call = [=] { l->device_state_changed(l, mac); };
  return guarded(call);
}

bool lv1_channel_type_state_changed(IoBoxListener* l, const uint8_t* mac) {
  auto call = [=] { l->channel_type_state_changed(l, mac); };
  return guarded(call);
}

bool lv1_rebuild_strip(ConsoleIOHost* h, const uint8_t* mac, int32_t ch) {
  auto call = [=] { h->rebuild_strip(h, mac, ch, 0); };
  return guarded(call);
}

bool lv1_gain_changed(GainChangedCallback* cb, const uint8_t* mac, int32_t ch, double db) {
  auto call = [=] { cb->gain_changed(cb, mac, ch, db); };
  return guarded(call);
}

bool lv1_phantom_changed(GainChangedCallback* cb, const uint8_t* mac, int32_t ch, uint32_t on) {
  auto call = [=] { cb->phantom_changed(cb, mac, ch, on); };
  return guarded(call);
}

}  // namespace ks
