// Brannock loaded as the loader loads it, with a host record built here that records what the
// module reports to LV1 and logs: shared by the module's Windows-tier test and its benchmark.
#pragma once

#include <windows.h>

#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/library.h"
#include "os/temp.h"
#include "os/utf.h"
#include "shared/gain_object.h"
#include "shared/module_table.h"

namespace ks::brannock_host {

struct Report {
  int32_t ch;
  double db;
  uint32_t has_gain, on, has_48v;
};

inline std::mutex g_mu;
inline std::vector<Report> g_reports;
inline std::vector<std::string> g_lines;
inline std::function<void(const Report&)> g_on_report;  // set before start, called on LV1's side
inline GainObject g_live{};

inline void KS_ABI host_log(const char*, int32_t, const char* text) {
  std::lock_guard<std::mutex> g(g_mu);
  g_lines.push_back(text ? text : "");
}
inline GainObject* KS_ABI host_live() { return &g_live; }
inline bool KS_ABI host_mac(uint8_t*) { return false; }
inline IoBoxListener* KS_ABI host_listener() { return nullptr; }
inline void KS_ABI host_report(GainObject*, int32_t ch, double db, uint32_t has_gain, uint32_t on,
                               uint32_t has_48v, uint32_t) {
  Report r{ch, db, has_gain, on, has_48v};
  if (g_on_report) g_on_report(r);
  std::lock_guard<std::mutex> g(g_mu);
  g_reports.push_back(r);
}
inline void KS_ABI host_rebuild(int32_t) {}

inline bool reported(int32_t ch, double db) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& r : g_reports)
    if (r.ch == ch && r.has_gain && std::abs(r.db - db) < 0.01) return true;
  return false;
}

inline bool reported_48v(int32_t ch) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& r : g_reports)
    if (r.ch == ch && r.has_48v && r.on) return true;
  return false;
}

inline bool logged(const char* part) {
  std::lock_guard<std::mutex> g(g_mu);
  for (auto& l : g_lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

inline std::string beside_this_program(const char* file) {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::string path = utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
  return path.substr(0, path.find_last_of('\\') + 1) + file;
}

struct Module {
  Library lib;
  const ConsoleModuleTable* table = nullptr;
  std::u16string cfg;
  ModuleHost host{};

  // Loads Brannock.dll from beside this program, writes the settings file and starts it.
  bool load_and_start(const std::string& settings) {
    if (!lib.load(beside_this_program("Brannock.dll"))) return false;
    auto entry = reinterpret_cast<ModuleEntryFn>(lib.find(kModuleEntryName));
    if (!entry || !(table = entry(kModuleApiVersion))) return false;
    cfg = utf8_to_utf16(path_join(temp_dir(), "x32.cfg"));
    if (!write_file_replace(utf16_to_utf8(cfg), settings)) return false;
    host.version = kModuleApiVersion;
    host.size = kModuleHostSize;
    host.ctx = "x32";
    host.config_path = cfg.c_str();
    host.status_suffix = u"-x32";
    host.log = host_log;
    host.live_gain_object = host_live;
    host.get_mac = host_mac;
    host.lv1_listener = host_listener;
    host.report_to_lv1 = host_report;
    host.rebuild_strip = host_rebuild;
    if (table->start(&host) != 1) return false;
    table->attach(&g_live);
    return true;
  }
};

}  // namespace ks::brannock_host
