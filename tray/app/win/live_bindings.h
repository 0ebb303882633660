// The resident program's bindings of the shell's interfaces to the running system: the
// dashboard's sources (status link, LV1 facts, install state, settings files, discovery), the
// actions its clicks take, and the steps of the poll tick.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tray/services/install_paths.h"
#include "tray/services/discovery.h"
#include "tray/services/json.h"
#include "tray/services/installer.h"
#include "tray/services/load_watch.h"
#include "tray/services/lv1_build.h"
#include "tray/services/status_link.h"
#include "tray/services/updater.h"
#include "tray/ui/model/cached_sources.h"
#include "tray/ui/model/dashboard_state.h"
#include "tray/ui/shell/poll_tick.h"
#include "tray/ui/shell/setup_actions.h"

namespace ks::tray {

class BridgePages;

// The tray's own console discovery: a search, its record per console, and the hints of the found
// consoles saved into their settings files. Unbound, nothing is searched.
struct DiscoverySeam {
  std::function<void()> discover_consoles;
  std::function<DiscoveryRecord(int console)> record;
  std::function<void()> save_console_hints;
};

// Entries other parts of the program provide: the diagnostics report, the support bundle and the
// update scheduler's tick. Unbound entries do nothing.
struct ServiceSeams {
  std::function<void()> write_diagnostics_report;
  std::function<void()> write_support_bundle;
  std::function<void()> update_tick;
};

// Everything the resident program owns, for the life of its message loop.
struct TrayProgram {
  // `names` gives the status link's block names (tests pass their own); its live inputs are the
  // program's.
  explicit TrayProgram(StatusLinkEnv names = {});
  ~TrayProgram();

  // LV1's process list and file versions, read at most once per half second per question: the
  // poll tick, the tooltip, the load watch and every frame ask.
  std::unique_ptr<Lv1System> lv1;
  DashboardUiState ui;
  StatusLink link;
  InstallPaths paths;
  Installer installer;
  std::unique_ptr<NoticeSink> notices;
  std::unique_ptr<LoadWatch> load_watch;
  DiscoverySeam discovery;
  ServiceSeams services;
  std::unique_ptr<ConsoleDiscovery> finder;
  LinkAgeMemory ages;
  FaultSummary faults;
  TrayState shown = TrayState::idle;
  bool always_on_top = true;

  std::unique_ptr<DashboardSources> live_sources;
  std::unique_ptr<PollCachedSources> sources;
  std::unique_ptr<ShellActions> actions;
  std::unique_ptr<BridgePages> bridge;

  // The page model of this moment, with the action message.
  bool page_model(JsonValue& out);
  const std::string& install_dir() { return paths.state().install_dir; }
};

// The poll tick's steps over the program; icon and tooltip through the given callbacks.
std::unique_ptr<PollSteps> make_poll_steps(TrayProgram& p,
                                           std::function<void(TrayState, TrayState)> show_icon,
                                           std::function<void()> refresh_tooltip,
                                           std::function<void()> invalidate);

// Binds the tray's console discovery to the program's seams and to the installer's console
// choice. Empty members of `env` take the live program's: the status link's desk lines, the
// installed folder, the adapter list and the real sockets.
void bind_discovery(TrayProgram& p, DiscoveryEnv env = {});

// What the updater's tick is lent: the install folder, LV1, the installer's loader install and
// its deferred install. `tray_window` gets WM_CLOSE when a new copy takes over.
UpdateHost update_host_of(TrayProgram& p, void* tray_window);

// Binds the updater: its tick into the poll tick's step, and its staged and busy words into the
// installer's guard and the pages' pending update.
void bind_updater(TrayProgram& p, void* tray_window);

// Binds the menu's and the dashboard's diagnostics report and support bundle: the file on the
// Desktop, then a message box over the dashboard while it is shown, else over `tray_window`.
void bind_diagnostics(TrayProgram& p, void* tray_window);

// Sets a console's identify words in the loader block; false when it cannot be reached.
bool blink_card_in_loader(int console);

}  // namespace ks::tray
