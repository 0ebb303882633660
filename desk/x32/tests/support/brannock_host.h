// Brannock loaded as the loader loads it, with a host record built here that records what the
// module reports to LV1 and logs: shared by the module's Windows-tier test and its benchmark.
#pragma once

#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/tests/support/module_dll_host.h"

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
inline void KS_ABI host_report(GainObject*, int32_t ch, double db, uint32_t has_gain, uint32_t on,
                               uint32_t has_48v, uint32_t) {
  Report r{ch, db, has_gain, on, has_48v};
  if (g_on_report) g_on_report(r);
  std::lock_guard<std::mutex> g(g_mu);
  g_reports.push_back(r);
}

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

struct Module : module_dll::LoadedModule {
  // Loads Brannock.dll from beside this program, writes the settings file and starts it.
  bool load_and_start(const std::string& settings) {
    if (!load("Brannock.dll")) return false;
    if (!prepare_host("x32", "x32.cfg", settings, u"-x32")) return false;
    host.log = host_log;
    host.live_gain_object = host_live;
    host.report_to_lv1 = host_report;
    return start_and_attach(&g_live);
  }
};

}  // namespace ks::brannock_host
