// What the dashboard's clicks act on. The tray program binds these to the installer, the
// settings files, the status link, its console discovery and the window; the tests bind a
// recording fake, so every click's decision and the state it leaves are checked natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tray/services/status_snapshot.h"
#include "tray/ui/model/ui_state.h"

namespace ks::tray {

class ShellActions {
public:
  virtual ~ShellActions() = default;

  // The installation and LV1.
  virtual void locate_install() = 0;
  virtual bool lv1_running() = 0;
  virtual bool card_module_present(int console) = 0;
  // Whether the installation can drive the console; on says whether state.cfg has it on.
  virtual bool console_state(int console, bool& on) = 0;
  // Writes state.cfg and sets the modules event; false with the whole sentence in message.
  virtual bool set_console_on(int console, bool on, std::string& message) = 0;
  // Installs after clearing the install's warning text; notice receives the text it left.
  virtual bool install(std::string& message, std::string& notice) = 0;
  virtual bool remove(std::string& message) = 0;

  // The tray's own console discovery: a new search, its verdict per console, and the found
  // consoles' addresses saved as hints into their settings files.
  virtual void discover_consoles() = 0;
  virtual bool console_found(int console) = 0;
  virtual void save_console_hints() = 0;

  // A console's settings file ("" for a key that is absent or a file that cannot be read).
  virtual std::string setting(int console, std::string_view key) = 0;
  virtual bool write_setting(int console, std::string_view key, std::string_view value) = 0;
  // The resync choice written into that console's status block as well.
  virtual void post_resync(int console, bool lv1) = 0;
  virtual void signal_modules_changed() = 0;
  // Sets the console's identify words in the loader block; false when it cannot be reached.
  virtual bool blink_card(int console) = 0;
  virtual StatusSnapshot snapshot(int console) = 0;

  // The address dialog's edit box.
  virtual std::string address_initial_text(int console) = 0;  // the card's "addr" "set" text
  virtual void open_address_edit(int console, const std::string& text) = 0;
  virtual std::string address_edit_text() = 0;
  virtual void close_address_edit() = 0;

  // Other dashboard commands.
  virtual bool open_lv1() = 0;  // found LV1's program and started it
  virtual void write_support_bundle() = 0;
  virtual void write_diagnostics_report() = 0;
  virtual void place_window() = 0;
};

// Where the bridge pages' clicks plug in: the reroute page owns every click while it is open, and
// the base page's channel and view commands (900/901, 15-32) go here. Without bridge pages the
// ids never appear, so the default does nothing.
class BridgePageClicks {
public:
  virtual ~BridgePageClicks() = default;
  virtual void reroute_click(DashboardUiState&, int32_t /*id*/, float /*x*/, float /*y*/) {}
  virtual void page_command(DashboardUiState&, int32_t /*id*/) {}
};

}  // namespace ks::tray
