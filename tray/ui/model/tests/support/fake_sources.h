// A scripted DashboardSources for the tests: every fact is a field, every call is counted.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tray/ui/model/dashboard_state.h"

namespace ks::tray::test {

struct FakeSources : DashboardSources {
  bool running = false;
  int32_t uptime = -1;
  std::string version;
  bool exe = false;
  bool loader_present = false;
  LoaderBlock loader{};
  bool blocked = false, update = false, legacy_all = false;
  bool card_module[2] = {true, true};
  bool installed[2] = {false, false};
  bool on[2] = {false, false};
  bool legacy[2] = {false, false};
  StatusSnapshot snap[2]{};
  DiscoveryRecord disc[2];
  std::string settings[2];
  bool settings_readable[2] = {true, true};
  std::string confirm_reply[2];
  bool write_ok = true;
  uint64_t now = 1000;

  int settings_reads = 0;
  int other_calls = 0;              // every call but whole_picture
  std::vector<std::string> writes;  // "kind key=value"
  std::vector<std::string> logs;
  std::string confirm_key_seen[2];

  bool lv1_running() override { return ++other_calls, running; }
  int32_t lv1_uptime_ms() override { return ++other_calls, uptime; }
  std::string lv1_version() override { return ++other_calls, version; }
  bool lv1_exe_present() override { return ++other_calls, exe; }
  bool read_loader_block(LoaderBlock& out) override {
    ++other_calls;
    if (loader_present) out = loader;
    return loader_present;
  }
  bool load_blocked() override { return ++other_calls, blocked; }
  bool update_pending() override { return ++other_calls, update; }
  bool legacy_install() override { return ++other_calls, legacy_all; }
  bool card_module_present(int k) override { return ++other_calls, card_module[k]; }
  bool console_module_state(int k, bool& o) override {
    ++other_calls;
    o = on[k];
    return installed[k];
  }
  bool legacy_console(int k) override { return ++other_calls, legacy[k]; }
  void read_status_snapshot(int k, StatusSnapshot& out) override {
    ++other_calls;
    out = snap[k];
  }
  DiscoveryRecord discovery(int k) override { return ++other_calls, disc[k]; }
  bool read_settings(int k, std::string& text) override {
    ++other_calls;
    ++settings_reads;
    text = settings[k];
    return settings_readable[k];
  }
  std::string confirm_typed_address(int k, const StatusSnapshot&, std::string_view key) override {
    ++other_calls;
    confirm_key_seen[k] = std::string(key);
    return confirm_reply[k];
  }
  bool write_setting(int k, const char* key, std::string_view value) override {
    ++other_calls;
    writes.push_back(std::to_string(k) + " " + key + "=" + std::string(value));
    return write_ok;
  }
  uint64_t steady_ms() override { return ++other_calls, now; }
  void log(std::string_view line) override { logs.emplace_back(line); }
};

// A snapshot of a live block of the current layout.
inline StatusSnapshot live_snapshot(bool answering, const char* desk_line = "") {
  StatusSnapshot s;
  std::memset(&s, 0, sizeof s);
  s.present = 1;
  s.version = 17;
  s.desk_answering = answering;
  s.lv1_loaded = 1;
  std::strncpy(s.desk_line, desk_line, sizeof s.desk_line - 1);
  return s;
}

}  // namespace ks::tray::test
