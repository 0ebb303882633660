// A console module DLL loaded as the loader loads one, with a host record built here: the
// common ground of the Windows-tier tests (and benchmarks) that drive a module through its table.
// Header only, Windows only: included by tests/win files and Windows benchmarks alone.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <cstdint>
#include <string>

#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/gain_object.h"
#include "shared/module_table.h"

namespace ks::module_dll {

// The running test program's own path.
inline std::string exe_path() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
}

// A file in the folder of the running test program (where the build puts the module DLLs).
inline std::string beside_this_program(const char* file) {
  std::string exe = exe_path();
  return exe.substr(0, exe.find_last_of('\\') + 1) + file;
}

// Host callbacks that do nothing: the default for those a test does not watch.
inline void KS_ABI quiet_log(const char*, int32_t, const char*) {}
inline GainObject* KS_ABI no_live_object() { return nullptr; }
inline bool KS_ABI no_mac(uint8_t*) { return false; }
inline IoBoxListener* KS_ABI no_listener() { return nullptr; }
inline void KS_ABI no_report(GainObject*, int32_t, double, uint32_t, uint32_t, uint32_t, uint32_t) {
}
inline void KS_ABI no_rebuild(int32_t) {}

// Writes `settings` to <temp>/<file> and returns its path for the host record (empty on failure).
inline std::u16string write_settings_file(const char* file, const std::string& settings) {
  std::string path = path_join(temp_dir(), file);
  if (!write_file_replace(path, settings)) return {};
  return utf8_to_utf16(path);
}

// A host record of this API version for type `ctx`, every callback quiet; `config_path` and
// `status_suffix` must outlive the record. Tests put in the callbacks they record.
inline ModuleHost quiet_host(const char* ctx, const std::u16string& config_path,
                             const char16_t* status_suffix) {
  ModuleHost host{};
  host.version = kModuleApiVersion;
  host.size = kModuleHostSize;
  host.ctx = ctx;
  host.config_path = config_path.c_str();
  host.status_suffix = status_suffix;
  host.log = quiet_log;
  host.live_gain_object = no_live_object;
  host.get_mac = no_mac;
  host.lv1_listener = no_listener;
  host.report_to_lv1 = no_report;
  host.rebuild_strip = no_rebuild;
  return host;
}

// A module DLL beside this program, its table, its settings file and the host it is started with.
struct LoadedModule {
  Library lib;
  ModuleEntryFn entry = nullptr;
  const ConsoleModuleTable* table = nullptr;
  std::u16string cfg;
  ModuleHost host{};

  // Maps `dll` and asks its entry for the table of this API version.
  bool load(const char* dll) {
    if (!lib.load(beside_this_program(dll))) return false;
    entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
    return entry && (table = entry(kModuleApiVersion)) != nullptr;
  }
  // Writes the settings file and fills `host` with quiet callbacks for type `ctx`.
  bool prepare_host(const char* ctx, const char* settings_file, const std::string& settings,
                    const char16_t* status_suffix) {
    cfg = write_settings_file(settings_file, settings);
    if (cfg.empty()) return false;
    host = quiet_host(ctx, cfg, status_suffix);
    return true;
  }
  // Starts the module with `host` and attaches `live` as LV1's card.
  bool start_and_attach(GainObject* live) {
    if (table->start(&host) != 1) return false;
    table->attach(live);
    return true;
  }
};

}  // namespace ks::module_dll

#endif  // _WIN32
