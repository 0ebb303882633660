// The setup page's and its dialogs' clicks, the console-address check and the click dispatch of
// the dashboard window, as decisions over DashboardUiState. Every action ends in the one-line
// action message (or, in the address dialog, the dialog's own message).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tray/ui/shell/shell_actions.h"

namespace ks::tray {

enum SetupCommandId : int32_t {
  kCmdSwitch = 400,      // + console
  kCmdPanel = 410,       // + console
  kCmdRecall = 420,      // + console
  kCmdResyncLv1 = 430,   // + console
  kCmdResyncDesk = 440,  // + console
  kCmdRetry = 450,       // + console
  kCmdUpdate = 460,
  kCmdReinstall = 461,
  kCmdRemoveConfirm = 462,
  kCmdConfirm = 463,
  kCmdCancel = 464,
  kCmdInstallConsoles = 465,
  kCmdBlink = 470,       // + console
  kCmdUseConsole = 480,  // + 8 x console + slot
  kCmdAddress = 500,     // + console
  kCmdFindAutomatically = 502,
};

// True when the id is one of the setup page's and was handled.
bool run_setup_action(DashboardUiState& ui, int32_t id, ShellActions& a);

// A click while a confirm dialog (g_modal 10 and above) is open; 0 is a click on no region.
void confirm_modal(DashboardUiState& ui, int32_t id, ShellActions& a);

// The address dialog's buttons (463 save, 502 find automatically, anything else closes it).
void save_console_address(DashboardUiState& ui, int32_t id, ShellActions& a);
void close_address_dialog(DashboardUiState& ui, ShellActions& a);

// Trimmed, four dot-separated decimal groups of 1-3 digits each at most 255, a first group of
// neither 0, 127 (this machine) nor 224 and above; normalised without leading zeros.
bool validate_console_address(std::string_view text, std::string& normalised, std::string& message);

void remember_typed_address(DashboardUiState& ui, int console, std::string_view text);

// The identity to store as `console` once the console answered at the typed address, else "".
std::string confirm_typed_address(DashboardUiState& ui, int console, const StatusSnapshot& s,
                                  std::string_view console_key);

// The dashboard window's click dispatch; (x, y) is the design point. False when nothing changed
// and the window need not be repainted.
bool dispatch_click(DashboardUiState& ui, int32_t id, float x, float y, ShellActions& a,
                    BridgePageClicks& bridge);

// TrayCommand 1100 + console: switch that console to the opposite of what it is.
void toggle_console_from_menu(DashboardUiState& ui, int console, ShellActions& a);

}  // namespace ks::tray
