// The gathering runs on every frame of a visible dashboard (20 Hz), and a page may load its
// model more than once per frame. File and process facts (LV1's process and version, the install
// state, the settings files, the load-watch and update flags) change on the scale of the poll
// tick, so they are read once per tick; the shared blocks and the clock are read live.
#pragma once

#include <optional>

#include "tray/ui/model/dashboard_state.h"

namespace ks::tray {

class PollCachedSources final : public DashboardSources {
public:
  explicit PollCachedSources(DashboardSources& live) : live_(live) {}

  // The poll timer calls this once per tick: the next gathering reads every fact afresh.
  void poll_tick() { cache_ = Cache{}; }

  bool whole_picture(DashboardState& out) override { return live_.whole_picture(out); }
  bool lv1_running() override;
  int32_t lv1_uptime_ms() override;
  std::string lv1_version() override;
  bool lv1_exe_present() override;
  bool read_loader_block(LoaderBlock& out) override { return live_.read_loader_block(out); }
  bool load_blocked() override;
  bool update_pending() override;
  bool legacy_install() override;
  bool card_module_present(int kind) override;
  bool console_module_state(int kind, bool& on) override;
  bool legacy_console(int kind) override;
  void read_status_snapshot(int kind, StatusSnapshot& out) override {
    live_.read_status_snapshot(kind, out);
  }
  DiscoveryRecord discovery(int kind) override { return live_.discovery(kind); }
  bool read_settings(int kind, std::string& text) override;
  std::string confirm_typed_address(int kind, const StatusSnapshot& s,
                                    std::string_view key) override {
    return live_.confirm_typed_address(kind, s, key);
  }
  // A write makes that console's cached settings stale at once.
  bool write_setting(int kind, const char* key, std::string_view value) override;
  uint64_t steady_ms() override { return live_.steady_ms(); }
  void log(std::string_view line) override { live_.log(line); }

private:
  struct Module {
    bool installed = false, on = false;
  };
  struct Settings {
    bool readable = false;
    std::string text;
  };
  struct Cache {
    std::optional<bool> running, exe, blocked, update, legacy_all;
    std::optional<int32_t> uptime;
    uint64_t uptime_at = 0;  // steady clock when the run time was read
    std::optional<std::string> version;
    std::optional<bool> card_module[2], legacy[2];
    std::optional<Module> module[2];
    std::optional<Settings> settings[2];
  };
  DashboardSources& live_;
  Cache cache_;
};

}  // namespace ks::tray
