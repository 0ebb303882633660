// What the tray icon says and offers: the tooltip and the context menu, as data the Windows edge
// turns into NOTIFYICONDATA and a popup menu.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::tray {

// Facts the tooltip and the menu's first line are built from; texts are UTF-8.
struct TrayFacts {
  bool blocked = false;         // the load watch says Windows refused the loader
  bool block_selected = false;  // a status block is selected
  bool module_too_old = false;
  std::string status_text;  // the selected block's status text
  std::string desk_ip;
  int32_t watch_count = 0;
  uint32_t sent = 0, received = 0;
  std::string build_profile;
  std::string version;  // the program's version text
};

// The two-line tip: the state line, a line break, the version; at most 127 UTF-16 units.
inline constexpr size_t kTipMax = 127;
std::u16string tooltip_text(const TrayFacts& f);

enum TrayMenuId : int32_t {
  kMenuStatus = 1000,
  kMenuToggleDashboard = 1001,
  kMenuOpenLog = 1013,
  kMenuDiagnostics = 1014,
  kMenuAlwaysOnTop = 1015,
  kMenuSetup = 1016,
  kMenuClearClips = 1019,
  kMenuDetailedLogging = 1020,
  kMenuSupportBundle = 1021,
  kMenuExit = 1022,
  kMenuConsoleBase = 1100,  // + console index
};

struct MenuItem {
  int32_t id = 0;  // 0: a separator
  std::string text;
  bool checked = false;
  bool disabled = false;
};

struct MenuFacts {
  TrayFacts tray;
  bool always_on_top = true;
  bool module_present[2] = {false, false};  // that console's card module exists
  bool console_on[2] = {false, false};
  uint32_t clipped_channels = 0;
  bool diag_on = false;
  bool settings_known = false;  // the current console has a settings file path
};

// Built anew at every right click. Groups are parted by one separator each, and a group with
// nothing in it (no console module, no clip) leaves no separator behind.
std::vector<MenuItem> tray_menu(const MenuFacts& f);

}  // namespace ks::tray
