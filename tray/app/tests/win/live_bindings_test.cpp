// The resident program's bindings of discovery and the updater, over a real TrayProgram: the
// search reaches the simulated desks on 127.0.0.1 (targets and ports handed in, nothing is
// broadcast) and its records are what the pages read; the updater's words guard the installer
// and its tick fails quietly when no update server listens; the bridge pages read the shown
// console's block, latch its clips on the frame tick and take the view commands.
// ks-test: lock=update-server,kestrune-updates timeout=120
#include "tray/app/win/live_bindings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "bridge/config.h"
#include "os/shared_memory.h"
#include "shared/names.h"
#include "shared/status_block.h"
#include "sim/wing/discovery.h"
#include "sim/x32/x32_sim.h"
#include "tray/app/win/bridge_bindings.h"
#include "tray/services/tests/support/files.h"
#include "tray/ui/model/dashboard_state.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

constexpr uint16_t kWingPort = 48222;
constexpr uint16_t kWingOscPort = 48223;
constexpr uint16_t kX32Port = 48023;

const std::string kWingLine =
    sim::wing_identity_line("192.168.1.62", "FOH", "ngc-full", "S1234567", "3.0.5");

DiscoveryEnv loopback_env(const std::string& install) {
  DiscoveryEnv e;
  e.net = [] {
    DiscoveryNet n;
    n.targets = {{kLoopback, 0xFFFFFFFFu}};
    n.wing_port = kWingPort;
    n.x32_port = kX32Port;
    return n;
  };
  e.install_dir = [install] { return install; };
  e.desk_line = [](std::string_view, std::string*) { return false; };  // no module linked
  e.log = [](const std::string&) {};
  return e;
}

std::string hint_in(const std::string& file) {
  ConsoleConfig c;
  config_defaults(c);
  config_parse(slurp(file), c, nullptr);
  return c.hint;
}

TEST(LiveBindings, UnboundDiscoveryFindsNothing) {
  TrayProgram p;
  p.actions->discover_consoles();
  EXPECT_FALSE(p.actions->console_found(0));
  EXPECT_FALSE(p.live_sources->discovery(0).found);
}

TEST(LiveBindings, FindTheConsoleReachesTheWingAndThePagesShowIt) {
  TempFolder dir;
  put(dir.at("Kestrune.dll"), "MZ");
  sim::DiscoveryBehaviour b;
  b.line = kWingLine;
  sim::DiscoveryResponder wing;
  ASSERT_TRUE(wing.start(kLoopback, b, kWingPort, kWingOscPort));

  TrayProgram p;
  bind_discovery(p, loopback_env(dir.path()));
  p.actions->discover_consoles();
  EXPECT_TRUE(p.actions->console_found(0));
  EXPECT_FALSE(p.actions->console_found(1));  // nobody on the X32 port
  EXPECT_FALSE(p.paths.env().current_is_x32());

  DashboardState st;
  LinkAgeMemory ages;
  gather_dashboard_state(*p.sources, st, ages);
  EXPECT_TRUE(st.discovery[kWing].found);
  EXPECT_EQ(st.discovery[kWing].line, kWingLine);
  EXPECT_FALSE(st.discovery[kX32].found);

  // The search saved the hint; saving again (after an install) writes it back.
  EXPECT_EQ(hint_in(dir.at("wing.cfg")), "192.168.1.62");
  ASSERT_TRUE(DeleteFileA(dir.at("wing.cfg").c_str()));
  p.actions->save_console_hints();
  EXPECT_EQ(hint_in(dir.at("wing.cfg")), "192.168.1.62");
  EXPECT_EQ(GetFileAttributesA(dir.at("x32.cfg").c_str()),
            INVALID_FILE_ATTRIBUTES);  // no X32 found
}

TEST(LiveBindings, AnX32FoundAloneIsTheInstallersCurrentConsole) {
  sim::X32Sim x32;
  sim::X32Sim::Options o;
  o.address = "127.0.0.1";
  o.port = kX32Port;
  o.name = "Monitor M32";
  o.model = "M32";
  o.version = "4.06";
  ASSERT_TRUE(x32.start(o));
  TrayProgram p;
  bind_discovery(p, loopback_env(""));
  p.actions->discover_consoles();
  EXPECT_FALSE(p.actions->console_found(0));
  EXPECT_TRUE(p.actions->console_found(1));
  EXPECT_EQ(p.live_sources->discovery(1).line, "X32,127.0.0.1,Monitor M32,M32,4.06");
  EXPECT_TRUE(p.paths.env().current_is_x32());
}

TEST(LiveBindings, UpdaterWordsGuardTheInstallerAndMarkAnUpdatePending) {
  TrayProgram p;
  bind_updater(p, nullptr);
  UpdaterState& u = updater_state();
  u.busy.store(1);
  std::string message;
  EXPECT_FALSE(p.installer.install_bundle(message));
  EXPECT_EQ(message, "An update is being written - try again in a moment.");
  u.busy.store(0);

  const bool before = p.live_sources->update_pending();
  u.staged.store(1);
  EXPECT_TRUE(p.live_sources->update_pending());
  u.staged.store(0);
  EXPECT_EQ(p.live_sources->update_pending(), before);
}

TEST(LiveBindings, UpdateTickWithNoServerFailsQuietlyAndWaitsSixHours) {
  TrayProgram p;
  UpdateHost host = update_host_of(p, nullptr);
  // Whatever an earlier run left staged in this account stays where it is: nothing is placed
  // or installed while LV1 runs.
  host.lv1_running = [] { return true; };
  std::mutex m;
  std::vector<std::string> lines;
  host.log = [&](const std::string& s) {
    std::lock_guard<std::mutex> g(m);
    lines.push_back(s);
  };
  UpdaterState& u = updater_state();
  u.next_check.store(0);
  const uint64_t t0 = 1000000;
  update_tick_at(host, t0);
  EXPECT_EQ(u.busy.load(), 0u);  // the first check waits 30 s
  EXPECT_EQ(u.next_check.load(), t0 + kFirstCheckDelayMs);
  update_tick_at(host, t0 + kFirstCheckDelayMs);
  EXPECT_EQ(u.next_check.load(), t0 + kFirstCheckDelayMs + kCheckIntervalMs);
  // The check thread ends by itself: nothing listens on the update host's port.
  for (int i = 0; i < 600 && u.busy.load() != 0; ++i) Sleep(100);
  ASSERT_EQ(u.busy.load(), 0u) << "the check thread did not end";
  EXPECT_EQ(u.staged.load(), 0u);
  {
    std::lock_guard<std::mutex> g(m);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("update: check failed", 0), 0u) << lines.back();
  }
  update_tick_at(host, t0 + kFirstCheckDelayMs + 1000);  // no second check before six hours
  EXPECT_EQ(u.busy.load(), 0u);
}

TEST(LiveBindings, TheBridgePagesFollowTheShownBlockAndLatchItsClips) {
  // Block names of this process alone: a module another test runs publishes under the product's.
  StatusLinkEnv names;
  names.status_base = "Local\\KsLiveBindings" + std::to_string(GetCurrentProcessId());
  names.loader_name = names.status_base + "-loader";
  SharedMemory m;
  ASSERT_TRUE(m.create(names.status_base, sizeof(StatusBlock)));
  ASSERT_FALSE(m.existed());
  auto* b = static_cast<StatusBlock*>(m.data());
  b->magic = kStatusMagic;
  b->version = kStatusLayoutVersion;
  b->watch_count = 8;
  b->lv1_loaded = 1;
  b->meters_live = 1;
  b->clip[3] = 1;

  TrayProgram p(names);
  BridgePages& pages = *p.bridge;
  const BridgeView v = pages.view();
  ASSERT_NE(v.block, nullptr);
  EXPECT_EQ(v.block->watch_count, 8u);  // the program's own view of the same block
  EXPECT_EQ(v.active_console, 0);
  EXPECT_FALSE(v.both_alive);

  // A clip held over several ticks is one overload; a new edge is another, on the same channel.
  pages.frame_tick();
  pages.frame_tick();
  EXPECT_EQ(pages.clips().latch[3], 1);
  EXPECT_EQ(pages.clips().clipped_channels, 1u);
  EXPECT_EQ(pages.clips().overloads, 1u);
  b->clip[3] = 0;
  pages.frame_tick();
  b->clip[3] = 1;
  pages.frame_tick();
  EXPECT_EQ(pages.clips().clipped_channels, 1u);
  EXPECT_EQ(pages.clips().overloads, 2u);
  b->meters_live = 0;  // no meters: nothing is tracked
  b->clip[5] = 1;
  pages.frame_tick();
  EXPECT_EQ(pages.clips().latch[5], 0);

  // The status page's tools: the clipped filter, then clearing the clips returns to all.
  DashboardUiState ui;
  pages.page_command(ui, 17);
  EXPECT_EQ(ui.view_filter, 2u);
  pages.page_command(ui, 19);
  EXPECT_EQ(ui.view_filter, 0u);
  EXPECT_EQ(pages.clips().clipped_channels, 0u);
  EXPECT_EQ(pages.clips().latch[3], 0);
  // The X32's tab while its block is not up changes nothing.
  pages.page_command(ui, 901);
  EXPECT_EQ(ui.active_console, 0);
}

}  // namespace
}  // namespace ks::tray
