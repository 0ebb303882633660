#include "tray/ui/shell/setup_actions.h"

#include <cstdio>

#include "tray/services/console_table.h"
#include "tray/ui/model/status_snapshot.h"

namespace ks::tray {

namespace {

constexpr char kEm[] = " \xE2\x80\x94 ";  // " — "
constexpr char kInstalledWhileLv1Runs[] =
    "Kestrune is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.";
constexpr char kCannotSave[] = "Could not save it - is the IO Modules folder writable?";

// The console an id of a "base + console" pair names, -1 when it names none.
int console_of(int32_t id, int32_t base) {
  const int32_t i = id - base;
  return i == 0 || i == 1 ? static_cast<int>(i) : -1;
}

void ok(DashboardUiState& ui, std::string text) { ui.action_message.set(std::move(text), false); }
void fail(DashboardUiState& ui, std::string text) { ui.action_message.set(std::move(text), true); }

std::string label(int console) { return console_table[console].display_name; }

// What an install leaves as the message: LV1 must restart to take it, or the install's warning.
void after_install_message(DashboardUiState& ui, ShellActions& a, const std::string& notice) {
  if (a.lv1_running())
    ok(ui, kInstalledWhileLv1Runs);
  else if (!notice.empty())
    ok(ui, notice);
  else
    ui.action_message.clear();
}

void switch_console(DashboardUiState& ui, int i, ShellActions& a) {
  bool on = false;
  const bool drivable = a.console_state(i, on);
  std::string message;
  if (a.card_module_present(i) && drivable) {
    if (!on) {
      if (a.set_console_on(i, true, message))
        ui.action_message.clear();
      else
        fail(ui, std::string("Could not switch it on") + kEm + message);
    } else if (a.lv1_running()) {
      // Turning a console off under a running show asks first.
      ui.pending_console = i;
      ui.modal = kModalConfirmOff;
    } else if (a.set_console_on(i, false, message)) {
      ui.action_message.clear();
    } else {
      fail(ui, std::string("Could not switch it off") + kEm + message);
    }
    return;
  }
  std::string notice;
  if (!a.install(message, notice)) {
    fail(ui, std::string("Could not switch it on") + kEm + message);
    return;
  }
  // Only the console asked for is switched: the other one stays as it was.
  a.locate_install();
  std::string why;
  const bool switched = a.set_console_on(i, true, why);
  a.locate_install();
  a.save_console_hints();
  if (!switched)
    fail(ui, std::string("Installed, but could not switch it on") + kEm + why);
  else
    after_install_message(ui, a, notice);
}

void install_consoles(DashboardUiState& ui, ShellActions& a) {
  std::string message, notice;
  if (!a.install(message, notice)) {
    fail(ui, std::string("Could not install") + kEm + message);
    return;
  }
  a.locate_install();
  const bool found[2] = {a.console_found(0), a.console_found(1)};
  const bool none = !found[0] && !found[1];
  std::string failure;
  for (int i = 0; i < kConsoleCount; ++i) {
    const bool want = none || found[i];
    if (!want && !a.card_module_present(i)) continue;  // nothing there to switch off
    std::string why;
    if (!a.set_console_on(i, want, why) && failure.empty())
      failure =
          "Installed, but could not switch the " + label(i) + (want ? " on" : " off") + kEm + why;
  }
  a.locate_install();
  a.save_console_hints();
  if (!failure.empty())
    fail(ui, failure);
  else
    after_install_message(ui, a, notice);
}

void use_console(DashboardUiState& ui, int i, int slot, ShellActions& a) {
  const std::string& identity = ui.candidate_ids[i][slot];
  const StatusSnapshot s = a.snapshot(i);
  std::string name, ip;
  bool found = false;
  if (!identity.empty()) {
    for (uint32_t k = 0; k < answer_count(s) && !found; ++k) {
      if (snap_text(s.answers[k].id) == identity) {
        name = snap_text(s.answers[k].name);
        ip = snap_text(s.answers[k].ip);
        found = true;
      }
    }
    if (!found && s.discovery_decision == 3 && snap_text(s.chosen_console) == identity) {
      name = snap_text(s.address_name);
      ip = snap_text(s.address_ip);
      if (name.empty()) name = identity;
      found = true;
    }
  }
  if (!found) {
    fail(ui, "That console stopped answering before the click - look at the list again.");
    return;
  }
  if (!a.write_setting(i, "console", identity)) {
    fail(ui, kCannotSave);
    return;
  }
  ok(ui, "This LV1 uses " + name + " (" + ip + "). Kestrune connects to it within a few seconds.");
}

void open_address_dialog(DashboardUiState& ui, int i, ShellActions& a) {
  if (ui.address_console >= 0) close_address_dialog(ui, a);
  ui.address_console = i;
  ui.modal = kModalAddress;
  ui.address_message.clear();
  a.open_address_edit(i, a.address_initial_text(i));
}

// Off when the value begins with "off" in any case, as the console module reads it.
bool reads_off(std::string_view v) {
  return v.size() >= 3 && (v[0] | 0x20) == 'o' && (v[1] | 0x20) == 'f' && (v[2] | 0x20) == 'f';
}

}  // namespace

bool run_setup_action(DashboardUiState& ui, int32_t id, ShellActions& a) {
  int i;
  if ((i = console_of(id, kCmdSwitch)) >= 0) {
    switch_console(ui, i, a);
  } else if ((i = console_of(id, kCmdPanel)) >= 0) {
    ui.setup_panel_open[i] = !ui.setup_panel_open[i];
    if (!ui.setup_panel_open[i]) ui.fit_shrink = true;
  } else if ((i = console_of(id, kCmdRecall)) >= 0) {
    const bool off = reads_off(a.setting(i, "session_recall"));
    if (!a.write_setting(i, "session_recall", off ? "on" : "off")) fail(ui, kCannotSave);
  } else if ((i = console_of(id, kCmdResyncLv1)) >= 0 ||
             (i = console_of(id, kCmdResyncDesk)) >= 0) {
    const bool lv1 = id < kCmdResyncDesk;
    if (!a.write_setting(i, "resync", lv1 ? "lv1" : "desk")) fail(ui, kCannotSave);
    a.post_resync(i, lv1);
  } else if ((i = console_of(id, kCmdRetry)) >= 0) {
    a.discover_consoles();
    a.signal_modules_changed();
  } else if (id == kCmdUpdate) {
    ui.modal = kModalConfirmUpdate;
  } else if (id == kCmdReinstall) {
    std::string message, notice;
    if (a.install(message, notice))
      ok(ui, "Kestrune was reinstalled. Start LV1.");
    else
      fail(ui, std::string("Could not reinstall") + kEm + message);
  } else if (id == kCmdRemoveConfirm) {
    ui.modal = kModalConfirmRemove;
  } else if (id == kCmdInstallConsoles) {
    install_consoles(ui, a);
  } else if ((i = console_of(id, kCmdBlink)) >= 0) {
    if (a.blink_card(i)) {
      ok(ui,
         "This LV1's card LED is blinking for 20 seconds. The console it sits in is the one to use.");
    } else {
      fail(ui, "Could not reach Kestrune inside LV1 to blink the card.");
    }
  } else if (id >= kCmdUseConsole && id < kCmdUseConsole + 16) {
    use_console(ui, (id - kCmdUseConsole) / 8, (id - kCmdUseConsole) % 8, a);
  } else if ((i = console_of(id, kCmdAddress)) >= 0) {
    open_address_dialog(ui, i, a);
  } else {
    return false;
  }
  return true;
}

void confirm_modal(DashboardUiState& ui, int32_t id, ShellActions& a) {
  if (ui.modal == kModalAddress) {
    save_console_address(ui, id, a);
    return;
  }
  if (id == kCmdConfirm) {
    std::string message, notice;
    if (ui.modal == kModalConfirmOff) {
      // A switch-off confirmation that names no console only closes.
      if (valid_console(ui.pending_console) &&
          !a.set_console_on(ui.pending_console, false, message))
        fail(ui, std::string("Could not switch it off") + kEm + message);
    } else if (ui.modal == kModalConfirmRemove) {
      if (a.lv1_running()) return;
      if (a.remove(message))
        ok(ui, "Kestrune was removed. LV1 runs every card on Waves' stock modules.");
      else
        fail(ui, std::string("Could not remove Kestrune") + kEm + message);
    } else if (ui.modal == kModalConfirmUpdate) {
      if (a.lv1_running()) return;
      if (a.install(message, notice))
        ok(ui, notice.empty() ? "Updated to Kestrune 3. Start LV1." : notice);
      else
        fail(ui, std::string("Could not update") + kEm + message);
    }
    ui.modal = kModalNone;
    ui.pending_console = -1;
    a.locate_install();
    return;
  }
  ui.modal = kModalNone;
  ui.pending_console = -1;
}

void close_address_dialog(DashboardUiState& ui, ShellActions& a) {
  a.close_address_edit();
  ui.address_message.clear();
  ui.address_console = -1;
  if (ui.modal == kModalAddress) ui.modal = kModalNone;
}

void save_console_address(DashboardUiState& ui, int32_t id, ShellActions& a) {
  const int i = ui.address_console;
  if (!valid_console(i)) {
    close_address_dialog(ui, a);
    return;
  }
  if (id == kCmdConfirm) {
    std::string typed = a.address_edit_text();
    if (typed.size() > 63) typed.resize(63);
    std::string address, message;
    if (!validate_console_address(typed, address, message)) {
      ui.address_message = message;
      return;
    }
    if (!a.write_setting(i, "ip", address)) {
      ui.address_message = kCannotSave;
      return;
    }
    if (a.setting(i, "console").empty()) remember_typed_address(ui, i, address);
    // A module that is up and still looking for its desk asks the new address at once; one that
    // holds a link (or is not running) takes it at its next search.
    const StatusSnapshot s = a.snapshot(i);
    if (s.present && s.lv1_loaded && !s.desk_answering)
      ok(ui, "Saved. Kestrune asks " + address + " within a few seconds.");
    else
      ok(ui, "Saved. Kestrune uses " + address +
                 " the next time it looks for the console - after a dropout, or when LV1 starts.");
  } else if (id == kCmdFindAutomatically) {
    if (!a.write_setting(i, "ip", "")) {
      ui.address_message = kCannotSave;
      return;
    }
    ui.remembered_address[i].clear();
    ok(ui, "Kestrune finds the " + label(i) + " by itself again.");
  }
  close_address_dialog(ui, a);
}

bool validate_console_address(std::string_view text, std::string& normalised,
                              std::string& message) {
  normalised.clear();
  message.clear();
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' ||
                   text[e - 1] == '\n' || text[e - 1] == '\v' || text[e - 1] == '\f'))
    --e;
  text = text.substr(b, e - b);
  if (text.empty()) {
    message = "Type the console's address, like 192.168.1.20.";
    return false;
  }
  int group[4] = {};
  int groups = 0, digits = 0;
  bool shape = true;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      if (groups == 4 || ++digits > 3) {
        shape = false;
        break;
      }
      group[groups] = group[groups] * 10 + (ch - '0');
    } else if (ch == '.' && digits > 0 && groups < 3) {
      ++groups;
      digits = 0;
    } else {
      shape = false;
      break;
    }
  }
  if (!shape || groups != 3 || digits == 0 || group[0] > 255 || group[1] > 255 || group[2] > 255 ||
      group[3] > 255) {
    message = "That isn't an IP address. Type four numbers with dots, like 192.168.1.20.";
    return false;
  }
  if (group[0] == 0 || group[0] == 127 || group[0] >= 224) {
    message =
        "No console can have that address. Type the one on its Setup \xE2\x96\xB8 Network page.";
    return false;
  }
  char out[16];
  std::snprintf(out, sizeof out, "%d.%d.%d.%d", group[0], group[1], group[2], group[3]);
  normalised = out;
  return true;
}

void remember_typed_address(DashboardUiState& ui, int console, std::string_view text) {
  if (valid_console(console)) ui.remembered_address[console] = std::string(text.substr(0, 63));
}

std::string confirm_typed_address(DashboardUiState& ui, int console, const StatusSnapshot& s,
                                  std::string_view console_key) {
  if (!valid_console(console) || ui.remembered_address[console].empty()) return {};
  if (!console_key.empty()) {
    ui.remembered_address[console].clear();
    return {};
  }
  if (s.present && s.version >= kSnapshotAddressVersion && s.desk_answering &&
      s.address_state == 0 && !snap_text(s.address_id).empty() &&
      snap_text(s.address_ip) == ui.remembered_address[console]) {
    ui.remembered_address[console].clear();
    return std::string(snap_text(s.address_id));
  }
  return {};
}

namespace {

void close_channel_page(DashboardUiState& ui) {
  ui.selected_channel = -1;
  ui.link_popover_open = false;
  ui.action_reply.clear();
}

bool dash_command(DashboardUiState& ui, int32_t id, ShellActions& a) {
  std::string message, notice;
  switch (id) {
    case 1: a.write_support_bundle(); return true;
    case 2:
      if (a.install(message, notice)) {
        ok(ui, notice.empty() ? "Installed. Start eMotion LV1 and assign the card." : notice);
        a.save_console_hints();
      } else {
        fail(ui, std::string("Could not install") + kEm + message);
      }
      return true;
    case 3: ui.modal = kModalRemove; return true;
    case 4:
      a.discover_consoles();
      a.locate_install();
      if (a.console_found(0) || a.console_found(1))
        ui.action_message.clear();
      else
        fail(ui, "Nothing answered. Is the desk on this network?");
      return true;
    case 6:
      ui.setup_open = true;
      a.locate_install();
      a.discover_consoles();
      a.place_window();
      return true;
    case 7:
      if (a.open_lv1())
        ok(ui, "Starting eMotion LV1\xE2\x80\xA6");
      else
        fail(ui, "Could not find eMotion LV1 on this machine.");
      return true;
    case 8: a.write_diagnostics_report(); return true;
    default: return false;
  }
}

}  // namespace

bool dispatch_click(DashboardUiState& ui, int32_t id, float x, float y, ShellActions& a,
                    BridgePageClicks& bridge) {
  if (ui.modal == kModalReroute) {
    bridge.reroute_click(ui, id, x, y);
    return true;
  }
  if (ui.modal >= kModalConfirmOff) {
    confirm_modal(ui, id, a);
    return true;
  }
  if (ui.modal != kModalNone) {  // the remove page
    ui.modal = kModalNone;
    if (id == 13) {
      std::string message;
      if (a.remove(message))
        ok(ui, "Removed. LV1 will use the stock Waves module again.");
      else
        fail(ui, std::string("Could not remove") + kEm + message);
    }
    return true;
  }
  if (id >= 1000 && id < 1064) {
    const int32_t ch = id - 1000;
    if (ui.selected_channel == ch && !ui.link_popover_open) {
      close_channel_page(ui);
    } else {
      ui.selected_channel = ch;
      ui.link_popover_open = false;
      ui.action_reply.clear();
    }
    ui.details_open = false;
    return true;
  }
  if (ui.selected_channel >= 0 && (id == 0 || id < 20 || id > 32)) {
    close_channel_page(ui);
    if (id == 0) return true;
  }
  if (id == 12) {
    ui.details_open = !ui.details_open;
    return true;
  }
  if (ui.details_open) {
    ui.details_open = false;
    if (id == 0) return true;
  }
  if (id == 0) return false;
  if (run_setup_action(ui, id, a)) return true;
  if (dash_command(ui, id, a)) return true;
  if (id == 900 || id == 901 || (id >= 15 && id <= 32)) bridge.page_command(ui, id);
  return true;
}

void toggle_console_from_menu(DashboardUiState& ui, int console, ShellActions& a) {
  if (!valid_console(console)) return;
  bool on = false;
  a.console_state(console, on);
  std::string message;
  if (a.set_console_on(console, !on, message))
    ok(ui, std::string("Kestrune ") + (on ? "off" : "on") + " for " + label(console) + ".");
  else
    fail(ui, message);
  a.locate_install();
}

}  // namespace ks::tray
