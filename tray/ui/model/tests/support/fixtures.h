// Minimal dashboard states for the card and page-model tests.
#pragma once

#include <cstring>

#include "tray/ui/model/dashboard_state.h"
#include "tray/ui/model/tests/support/fake_sources.h"

namespace ks::tray::test {

inline constexpr char kWingLine[] =
    "WING,10.42.20.2,WING-PP-20060733,wing-rack,0100NDP0604AAE,3.1-0-g9f314617";
inline constexpr char kX32Line[] = "X32,10.42.20.40,M32C-09-6C-83,M32C,4.06";

// LV1 runs, the console kind is installed, on, found, its desk answers and its card is live: a
// connected card (code 10). Every other card state is one or two changes away from this.
inline DashboardState connected_state(int kind) {
  DashboardState st;
  dashboard_state_init(st);
  st.platform = 1;
  st.network_gate = 0;
  st.lv1_running = 1;
  st.lv1_found = 1;
  st.lv1_exe_present = 1;
  st.lv1_version = "17.3.50.135";
  st.lv1_uptime_ms = 600000;
  st.loader_block_present = 1;
  st.loader_block.magic = kLoaderMagic;
  st.loader_block.size = kLoaderBlockSize;
  LoaderTypeRecord& r = st.loader_block.types[kind];
  std::strcpy(r.type_name, kTypeNames[kind]);
  r.enabled = 1;
  r.waves_loaded = 1;
  r.live_usable = 1;
  r.product_id = kind == kWing ? 5 : 3;
  std::strcpy(r.running_version, "3.1.0");
  st.card_module_present[kind] = 1;
  st.installed[kind] = 1;
  st.on[kind] = 1;
  st.snapshot[kind] = live_snapshot(true, kind == kWing ? kWingLine : kX32Line);
  st.discovery[kind].found = 1;
  st.discovery[kind].line = kind == kWing ? kWingLine : kX32Line;
  st.link_age_ms[kind] = 0;
  return st;
}

}  // namespace ks::tray::test
