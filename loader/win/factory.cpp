// The loader's module interface: LV1's factory call loads Waves' three modules from their own
// bundles and hands LV1 an interface whose operations reach them.
#include "loader/win/factory.h"

#include <string>

#include "loader/win/guard.h"
#include "loader/win/loader_core.h"
#include "loader/win/loader_log.h"
#include "loader/win/module_seam.h"
#include "os/lock.h"

namespace ks {

namespace {

IoBoxModuleInterface g_interface;
IoBoxModuleInterface* g_published = nullptr;
uint32_t g_version_logged = 0;

CriticalSection& factory_lock() {
  static CriticalSection lock;
  return lock;
}

std::wstring widen(const char* s) {
  std::wstring w;
  for (; *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
  return w;
}

uint64_t KS_ABI module_op0(IoBoxModuleInterface*) {
  uint64_t r = 0;
  for (int i = 0; i < kCardRows; ++i)
    if (IoBoxModuleInterface* in = card_runtime(i).inner) r = in->module_op0(in);
  return r;
}

uint64_t KS_ABI module_version(IoBoxModuleInterface*) {
  const bool log = __atomic_exchange_n(&g_version_logged, 1u, __ATOMIC_ACQ_REL) == 0;
  uint64_t highest = 0;
  for (int i = 0; i < kCardRows; ++i) {
    IoBoxModuleInterface* in = card_runtime(i).inner;
    if (!in) continue;
    uint64_t v = in->module_version(in);
    if (log)
      loader_log(kLogLoader, "[mod] %S module version %llx",
                 widen(kCardTable[i].module_name).c_str(), static_cast<unsigned long long>(v));
    if (v > highest) highest = v;
  }
  const uint64_t ours = highest ? highest + 1 : 0;
  if (log)
    loader_log(kLogLoader,
               "[mod] module version -> %llx (one above Waves' newest, so LV1 keeps ours)",
               static_cast<unsigned long long>(ours));
  return ours;
}

uint64_t KS_ABI module_op2(IoBoxModuleInterface*, uint64_t arg) {
  for (int i = 0; i < kCardRows; ++i) {
    const CardRuntime& c = card_runtime(i);
    if (c.inner && !c.own_bundle) return c.inner->module_op2(c.inner, arg);
  }
  uint64_t r = 0;
  for (int i = 0; i < kCardRows; ++i)
    if (IoBoxModuleInterface* in = card_runtime(i).inner) r = in->module_op2(in, arg);
  return r;
}

IoBox* KS_ABI create_device_box(IoBoxModuleInterface*, uint32_t vendor, uint32_t product) {
  return create_device_box_for(vendor, product);
}

// Loads the row's Waves module (once) and asks its factory for an interface (until it gives one).
void load_waves_row(int row, const char* arg, bool own_arg, size_t arg_len) {
  CardRuntime& c = card_runtime(row);
  const CardRow& card = kCardTable[row];
  const std::wstring name = widen(card.module_name);
  const std::wstring dll =
      loader_paths().module_root + L"\\" + name + L".bundle\\Contents\\Win64\\" + name + L".dll";
  if (!c.module) c.module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  IoBoxFactoryFn factory = c.module ? reinterpret_cast<IoBoxFactoryFn>(reinterpret_cast<void*>(
                                          GetProcAddress(c.module, kIoBoxFactoryName)))
                                    : nullptr;
  if (factory && !c.inner) {
    if (own_arg) {
      std::string own = own_bundle_path(std::string_view(arg, arg_len), card.module_name);
      if (IoBoxModuleInterface* in = factory(own.c_str())) {
        c.inner = in;
        c.own_bundle = true;
        c.bundle_path = own;
      }
    }
    if (!c.inner) {
      c.inner = factory(arg);
      if (c.inner && own_arg) c.bundle_path.assign(arg, arg_len);
    }
  }
  ConsoleTypeRecord& t = console_type(card.console_type);
  if (c.inner && !t.waves_module) t.waves_module = c.inner;
  loader_log(kLogLoader, "[loader] %s card: Waves' module %S %s%s", t.type_name, dll.c_str(),
             c.inner ? "loaded" : "NOT available",
             c.own_bundle ? ", with its own bundle path (its settings panel, ids and resources)"
             : c.inner    ? ", with LV1's argument"
                          : "");
}

}  // namespace

IoBoxModuleInterface* create_module_interface(const char* bundle_path) {
  if (IoBoxModuleInterface* done = __atomic_load_n(&g_published, __ATOMIC_ACQUIRE)) return done;
  LockGuard<CriticalSection> g(factory_lock());
  if (g_published) return g_published;

  const ptrdiff_t len = readable_length(bundle_path, kBundleArgCap);
  const bool own =
      len >= 0 && is_own_bundle_arg(std::string_view(bundle_path, static_cast<size_t>(len)));
  if (own)
    loader_log(kLogLoader, "[loader] LV1 opened %s", bundle_path);
  else
    loader_log(
        kLogLoader,
        "[loader] LV1's factory argument is not Kestrune.bundle's path - Waves' modules get it unchanged");

  for (int row = 0; row < kCardRows; ++row)
    load_waves_row(row, bundle_path, own, own ? static_cast<size_t>(len) : 0);
  fill_module_hosts();

  IoBoxModuleInterface* first = nullptr;
  for (int row = 0; row < kCardRows && !first; ++row) first = card_runtime(row).inner;
  if (!first) {
    loader_log(kLogLoader, "[loader] no Waves module could be loaded - Kestrune is off");
    return nullptr;
  }
  g_interface.module_op0 = &module_op0;
  g_interface.module_version = &module_version;
  g_interface.module_op2 = &module_op2;
  g_interface.create_device_box = &create_device_box;
  g_interface.inner_interface = first;
  __atomic_store_n(&g_published, &g_interface, __ATOMIC_RELEASE);

  loader_log(kLogLoader, "[loader] Kestrune %s loader ready: WING %s, X32/M32 %s",
             kLoaderVersionText, console_type(0).waves_module ? "yes" : "no",
             console_type(1).waves_module ? "yes" : "no");
  create_loader_block();
  if (!start_notify_threads())
    loader_log(kLogLoader, "[loader] the notifier threads could not be started");
  start_modules_watcher();
  return &g_interface;
}

}  // namespace ks
