// The click dispatch over the UI state: every id the setup page and its dialogs emit, with the
// state and the calls it leaves, the address check and the typed-address confirmation.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "tray/ui/shell/setup_actions.h"

namespace ks::tray {
namespace {

// A machine whose facts the test sets and whose calls it reads back as one line each.
struct FakeActions : ShellActions {
  bool running = false;
  bool present[2] = {true, true};
  bool drivable[2] = {true, true};
  bool on[2] = {false, false};
  bool found[2] = {false, false};
  bool install_ok = true, remove_ok = true, switch_ok = true, write_ok = true, blink_ok = true,
       lv1_ok = true;
  std::string notice;
  std::map<std::string, std::string> settings[2];
  StatusSnapshot snap[2];
  std::string edit_text;
  bool edit_open = false;
  std::vector<std::string> calls;

  void locate_install() override { calls.push_back("locate"); }
  bool lv1_running() override { return running; }
  bool card_module_present(int i) override { return present[i]; }
  bool console_state(int i, bool& o) override {
    o = on[i];
    return drivable[i];
  }
  bool set_console_on(int i, bool want, std::string& message) override {
    calls.push_back("switch " + std::to_string(i) + (want ? " on" : " off"));
    if (!switch_ok) {
      message = "state.cfg is read-only.";
      return false;
    }
    on[i] = want;
    return true;
  }
  bool install(std::string& message, std::string& n) override {
    calls.push_back("install");
    n = notice;
    if (!install_ok)
      message = "the folder is locked.";
    else
      present[0] = present[1] = drivable[0] = drivable[1] = true;
    return install_ok;
  }
  bool remove(std::string& message) override {
    calls.push_back("remove");
    if (!remove_ok) message = "Close eMotion LV1 first.";
    return remove_ok;
  }
  void discover_consoles() override { calls.push_back("discover"); }
  bool console_found(int i) override { return found[i]; }
  void save_console_hints() override { calls.push_back("hints"); }
  std::string setting(int i, std::string_view key) override {
    auto it = settings[i].find(std::string(key));
    return it == settings[i].end() ? "" : it->second;
  }
  bool write_setting(int i, std::string_view key, std::string_view value) override {
    calls.push_back("cfg " + std::to_string(i) + " " + std::string(key) + "=" + std::string(value));
    if (write_ok) settings[i][std::string(key)] = std::string(value);
    return write_ok;
  }
  void post_resync(int i, bool lv1) override {
    calls.push_back("resync " + std::to_string(i) + (lv1 ? " lv1" : " desk"));
  }
  void signal_modules_changed() override { calls.push_back("event"); }
  bool blink_card(int i) override {
    calls.push_back("blink " + std::to_string(i));
    return blink_ok;
  }
  StatusSnapshot snapshot(int i) override { return snap[i]; }
  std::string address_initial_text(int i) override { return i == 0 ? "10.0.0.9" : ""; }
  void open_address_edit(int i, const std::string& text) override {
    calls.push_back("edit open " + std::to_string(i) + " '" + text + "'");
    edit_open = true;
    edit_text = text;
  }
  std::string address_edit_text() override { return edit_text; }
  void close_address_edit() override {
    if (edit_open) calls.push_back("edit close");
    edit_open = false;
  }
  bool open_lv1() override {
    calls.push_back("open lv1");
    return lv1_ok;
  }
  void write_support_bundle() override { calls.push_back("bundle"); }
  void write_diagnostics_report() override { calls.push_back("report"); }
  void place_window() override { calls.push_back("place"); }

  std::string joined() const {
    std::string s;
    for (const auto& c : calls) s += (s.empty() ? "" : "; ") + c;
    return s;
  }
};

struct RecordingBridge : BridgePageClicks {
  std::vector<int32_t> reroute, page;
  void reroute_click(DashboardUiState&, int32_t id, float, float) override {
    reroute.push_back(id);
  }
  void page_command(DashboardUiState&, int32_t id) override { page.push_back(id); }
};

const std::string kEm = " \xE2\x80\x94 ";

TEST(SetupActions, SwitchConsole) {
  struct Case {
    const char* name;
    bool present, on, running, switch_ok;
    std::string calls, message;
    bool failed;
    int32_t modal, pending;
  } cases[] = {
      {"off, present: on", true, false, false, true, "switch 1 on", "", false, 0, -1},
      {"on, LV1 closed: off at once", true, true, false, true, "switch 1 off", "", false, 0, -1},
      {"on, LV1 running: asks first", true, true, true, true, "", "", false, kModalConfirmOff, 1},
      {"switch-on fails", true, false, false, false, "switch 1 on",
       "Could not switch it on" + kEm + "state.cfg is read-only.", true, 0, -1},
      {"switch-off fails", true, true, false, false, "switch 1 off",
       "Could not switch it off" + kEm + "state.cfg is read-only.", true, 0, -1},
      // Not installed: install, switch only this console on (the other is left as it was).
      {"not present", false, false, false, true, "install; locate; switch 1 on; locate; hints", "",
       false, 0, -1},
      {"not present, LV1 running", false, false, true, true,
       "install; locate; switch 1 on; locate; hints",
       "Kestrune is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.", false,
       0, -1},
      {"installed, switch fails", false, false, false, false,
       "install; locate; switch 1 on; locate; hints",
       "Installed, but could not switch it on" + kEm + "state.cfg is read-only.", true, 0, -1},
  };
  for (const Case& c : cases) {
    FakeActions a;
    a.present[1] = a.drivable[1] = c.present;
    a.on[1] = c.on;
    a.on[0] = true;  // the other console is on and stays so
    a.running = c.running;
    a.switch_ok = c.switch_ok;
    DashboardUiState ui;
    ui.action_message.set("old", false);
    EXPECT_TRUE(run_setup_action(ui, 401, a)) << c.name;
    EXPECT_EQ(a.joined(), c.calls) << c.name;
    if (c.modal == 0) {
      EXPECT_EQ(ui.action_message.text, c.message) << c.name;
      EXPECT_EQ(ui.action_message.failed, c.failed) << c.name;
    }
    EXPECT_EQ(ui.modal, c.modal) << c.name;
    EXPECT_EQ(ui.pending_console, c.pending) << c.name;
    EXPECT_TRUE(a.on[0]) << c.name;  // never switched off unasked
  }
}

TEST(SetupActions, InstallWithoutNoticeOrWithOne) {
  FakeActions a;
  a.present[0] = a.drivable[0] = false;
  a.notice = "Waves' WING module was kept as a spare.";
  DashboardUiState ui;
  run_setup_action(ui, 400, a);
  EXPECT_EQ(ui.action_message.text, a.notice);
  FakeActions b;
  b.present[0] = b.drivable[0] = false;
  b.install_ok = false;
  run_setup_action(ui, 400, b);
  EXPECT_EQ(ui.action_message.text, "Could not switch it on" + kEm + "the folder is locked.");
  EXPECT_TRUE(ui.action_message.failed);
  EXPECT_EQ(b.joined(), "install");
}

TEST(SetupActions, InstallAndSwitchFollowsWhatDiscoveryFound) {
  struct Case {
    bool found0, found1, present1_before;
    std::string calls;
  } cases[] = {
      {true, false, true, "install; locate; switch 0 on; switch 1 off; locate; hints"},
      {false, true, true, "install; locate; switch 0 off; switch 1 on; locate; hints"},
      {false, false, true,
       "install; locate; switch 0 on; switch 1 on; locate; hints"},  // neither: both on
      {true, true, true, "install; locate; switch 0 on; switch 1 on; locate; hints"},
  };
  for (const Case& c : cases) {
    FakeActions a;
    a.found[0] = c.found0;
    a.found[1] = c.found1;
    DashboardUiState ui;
    EXPECT_TRUE(run_setup_action(ui, 465, a));
    EXPECT_EQ(a.joined(), c.calls);
  }
  FakeActions a;
  a.found[1] = true;
  a.switch_ok = false;
  DashboardUiState ui;
  run_setup_action(ui, 465, a);
  EXPECT_EQ(ui.action_message.text, "Installed, but could not switch the Behringer WING off" + kEm +
                                        "state.cfg is read-only.");
  EXPECT_TRUE(ui.action_message.failed);
}

TEST(SetupActions, SettingsPanelsAndDialogs) {
  FakeActions a;
  DashboardUiState ui;
  // Panel: opening does not ask for a shrink, closing does.
  run_setup_action(ui, 411, a);
  EXPECT_TRUE(ui.setup_panel_open[1]);
  EXPECT_FALSE(ui.fit_shrink);
  run_setup_action(ui, 411, a);
  EXPECT_FALSE(ui.setup_panel_open[1]);
  EXPECT_TRUE(ui.fit_shrink);
  // Session recall flips as the module reads it: absent or "on" -> off, anything "off..." -> on.
  run_setup_action(ui, 420, a);
  EXPECT_EQ(a.settings[0]["session_recall"], "off");
  run_setup_action(ui, 420, a);
  EXPECT_EQ(a.settings[0]["session_recall"], "on");
  a.settings[0]["session_recall"] = "Off ";
  run_setup_action(ui, 420, a);
  EXPECT_EQ(a.settings[0]["session_recall"], "on");
  a.calls.clear();
  run_setup_action(ui, 441, a);
  run_setup_action(ui, 430, a);
  run_setup_action(ui, 451, a);
  EXPECT_EQ(a.joined(),
            "cfg 1 resync=desk; resync 1 desk; cfg 0 resync=lv1; resync 0 lv1; discover; event");
  // A settings file that cannot be written says so.
  a.write_ok = false;
  run_setup_action(ui, 421, a);
  EXPECT_TRUE(ui.action_message.failed);
  // Dialogs.
  run_setup_action(ui, 460, a);
  EXPECT_EQ(ui.modal, kModalConfirmUpdate);
  run_setup_action(ui, 462, a);
  EXPECT_EQ(ui.modal, kModalConfirmRemove);
  // Ids that are not the setup page's.
  for (int32_t id : {0, 399, 402, 463, 464, 466, 472, 496, 502, 503, 1100})
    EXPECT_FALSE(run_setup_action(ui, id, a)) << id;
}

TEST(SetupActions, ReinstallBlinkAndLv1) {
  FakeActions a;
  DashboardUiState ui;
  run_setup_action(ui, 461, a);
  EXPECT_EQ(ui.action_message.text, "Kestrune was reinstalled. Start LV1.");
  a.install_ok = false;
  run_setup_action(ui, 461, a);
  EXPECT_EQ(ui.action_message.text, "Could not reinstall" + kEm + "the folder is locked.");
  run_setup_action(ui, 471, a);
  EXPECT_EQ(
      ui.action_message.text,
      "This LV1's card LED is blinking for 20 seconds. The console it sits in is the one to use.");
  a.blink_ok = false;
  run_setup_action(ui, 470, a);
  EXPECT_EQ(ui.action_message.text, "Could not reach Kestrune inside LV1 to blink the card.");
  EXPECT_TRUE(ui.action_message.failed);
}

TEST(SetupActions, UseThisConsoleNeedsTheAnswerStill) {
  FakeActions a;
  DashboardUiState ui;
  ui.candidate_ids[1][2] = "S-2000";
  StatusSnapshot& s = a.snap[1];
  s.present = 1;
  s.answer_count = 2;
  std::strcpy(s.answers[0].id, "S-1000");
  std::strcpy(s.answers[1].id, "S-2000");
  std::strcpy(s.answers[1].name, "FOH");
  std::strcpy(s.answers[1].ip, "10.0.0.7");
  EXPECT_TRUE(run_setup_action(ui, 480 + 8 + 2, a));
  EXPECT_EQ(a.settings[1]["console"], "S-2000");
  EXPECT_EQ(ui.action_message.text,
            "This LV1 uses FOH (10.0.0.7). Kestrune connects to it within a few seconds.");
  // Gone from the answers: nothing is written.
  s.answer_count = 1;
  a.settings[1].clear();
  run_setup_action(ui, 490, a);
  EXPECT_TRUE(a.settings[1].empty());
  EXPECT_EQ(ui.action_message.text,
            "That console stopped answering before the click - look at the list again.");
  // A slot with no identity, and an answer count beyond the array, are both safe.
  s.answer_count = 1000;
  run_setup_action(ui, 489, a);
  EXPECT_TRUE(a.settings[1].empty());
}

TEST(ConfirmModal, WhatConfirmAndCancelDo) {
  struct Case {
    const char* name;
    int32_t modal, pending, id;
    bool running;
    std::string calls, message;
    int32_t modal_after;
  } cases[] = {
      {"switch-off confirmed", kModalConfirmOff, 1, 463, true, "switch 1 off; locate", "", 0},
      {"switch-off without a console only closes", kModalConfirmOff, -1, 463, true, "locate", "",
       0},
      {"switch-off with a console out of range only closes", kModalConfirmOff, 7, 463, true,
       "locate", "", 0},
      {"switch-off cancelled", kModalConfirmOff, 1, 464, true, "", "", 0},
      {"click on no region closes", kModalConfirmOff, 1, 0, true, "", "", 0},
      {"remove while LV1 runs stays", kModalConfirmRemove, -1, 463, true, "", "",
       kModalConfirmRemove},
      {"remove", kModalConfirmRemove, -1, 463, false, "remove; locate",
       "Kestrune was removed. LV1 runs every card on Waves' stock modules.", 0},
      {"update while LV1 runs stays", kModalConfirmUpdate, -1, 463, true, "", "",
       kModalConfirmUpdate},
      {"update", kModalConfirmUpdate, -1, 463, false, "install; locate",
       "Updated to Kestrune 3. Start LV1.", 0},
  };
  for (const Case& c : cases) {
    FakeActions a;
    a.running = c.running;
    a.on[1] = true;
    DashboardUiState ui;
    ui.modal = c.modal;
    ui.pending_console = c.pending;
    confirm_modal(ui, c.id, a);
    EXPECT_EQ(a.joined(), c.calls) << c.name;
    EXPECT_EQ(ui.action_message.text, c.message) << c.name;
    EXPECT_EQ(ui.modal, c.modal_after) << c.name;
    if (c.modal_after == 0) EXPECT_EQ(ui.pending_console, -1) << c.name;
  }
  FakeActions a;
  a.remove_ok = false;
  DashboardUiState ui;
  ui.modal = kModalConfirmRemove;
  confirm_modal(ui, 463, a);
  EXPECT_EQ(ui.action_message.text, "Could not remove Kestrune" + kEm + "Close eMotion LV1 first.");
  EXPECT_TRUE(ui.action_message.failed);
}

TEST(AddressValidation, Table) {
  const std::string kNotIp =
      "That isn't an IP address. Type four numbers with dots, like 192.168.1.20.";
  const std::string kImpossible =
      "No console can have that address. Type the one on its Setup \xE2\x96\xB8 Network page.";
  struct Case {
    const char* text;
    std::string normalised, message;
  } cases[] = {
      {"192.168.1.20", "192.168.1.20", ""},
      {"  \t10.0.0.5 \r\n", "10.0.0.5", ""},  // trimmed
      {"010.001.000.099", "10.1.0.99", ""},   // leading zeros dropped
      {"223.255.255.254", "223.255.255.254", ""},
      {"", "", "Type the console's address, like 192.168.1.20."},
      {"   ", "", "Type the console's address, like 192.168.1.20."},
      {"192.168.1", "", kNotIp},
      {"192.168.1.2.3", "", kNotIp},
      {"192.168.0001.2", "", kNotIp},  // four digits
      {"192.168.1.256", "", kNotIp},
      {"192.168..2", "", kNotIp},
      {".192.168.1", "", kNotIp},
      {"192.168.1.", "", kNotIp},
      {"192.168.1 .20", "", kNotIp},  // a space inside
      {"192.168.1.20 x", "", kNotIp},
      {"-1.2.3.4", "", kNotIp},
      {"+1.2.3.4", "", kNotIp},
      {"0x7f.0.0.1", "", kNotIp},
      {"desk.local", "", kNotIp},
      {"fe80::1", "", kNotIp},
      {"\xEF\xBC\x91.2.3.4", "", kNotIp},  // a full-width digit
      {"0.1.2.3", "", kImpossible},
      {"127.0.0.1", "", kImpossible},  // this machine
      {"224.0.0.1", "", kImpossible},  // multicast
      {"239.255.255.250", "", kImpossible},
      {"255.255.255.255", "", kImpossible},  // broadcast
  };
  for (const Case& c : cases) {
    std::string n = "stale", m = "stale";
    EXPECT_EQ(validate_console_address(c.text, n, m), c.message.empty()) << c.text;
    EXPECT_EQ(n, c.normalised) << c.text;
    EXPECT_EQ(m, c.message) << c.text;
  }
}

TEST(AddressDialog, OpenSaveFindAutomaticallyCancel) {
  FakeActions a;
  DashboardUiState ui;
  EXPECT_TRUE(run_setup_action(ui, 500, a));
  EXPECT_EQ(ui.modal, kModalAddress);
  EXPECT_EQ(ui.address_console, 0);
  EXPECT_EQ(a.joined(), "edit open 0 '10.0.0.9'");
  // Invalid: the dialog says why and stays; nothing is written.
  a.edit_text = "10.0.0";
  RecordingBridge bridge;
  dispatch_click(ui, 463, 0, 0, a, bridge);
  EXPECT_EQ(ui.modal, kModalAddress);
  EXPECT_EQ(ui.address_message,
            "That isn't an IP address. Type four numbers with dots, like 192.168.1.20.");
  EXPECT_TRUE(a.settings[0].empty());
  // A write that fails keeps the dialog open with its own message.
  a.edit_text = "10.0.0.010";
  a.write_ok = false;
  dispatch_click(ui, 463, 0, 0, a, bridge);
  EXPECT_EQ(ui.modal, kModalAddress);
  EXPECT_EQ(ui.address_message, "Could not save it - is the IO Modules folder writable?");
  // Saved, normalised; remembered because no console was chosen yet; LV1 not running.
  a.write_ok = true;
  dispatch_click(ui, 463, 0, 0, a, bridge);
  EXPECT_EQ(a.settings[0]["ip"], "10.0.0.10");
  EXPECT_EQ(ui.remembered_address[0], "10.0.0.10");
  EXPECT_EQ(ui.modal, kModalNone);
  EXPECT_EQ(ui.address_console, -1);
  EXPECT_TRUE(ui.address_message.empty());
  EXPECT_FALSE(a.edit_open);
  EXPECT_EQ(ui.action_message.text,
            "Saved. Kestrune uses 10.0.0.10 the next time it looks for the console - after a "
            "dropout, or when LV1 starts.");
  // A module that runs and is still looking asks the new address now; a chosen console is not
  // overwritten by the remembered address.
  a.snap[1].present = a.snap[1].lv1_loaded = 1;
  a.settings[1]["console"] = "S-1";
  run_setup_action(ui, 501, a);
  a.edit_text = "  192.168.1.20";
  dispatch_click(ui, 463, 0, 0, a, bridge);
  EXPECT_EQ(ui.action_message.text, "Saved. Kestrune asks 192.168.1.20 within a few seconds.");
  EXPECT_TRUE(ui.remembered_address[1].empty());
  // Find it automatically empties ip.
  run_setup_action(ui, 501, a);
  dispatch_click(ui, 502, 0, 0, a, bridge);
  EXPECT_EQ(a.settings[1]["ip"], "");
  EXPECT_EQ(ui.action_message.text,
            "Kestrune finds the Behringer X32 / Midas M32 by itself again.");
  EXPECT_EQ(ui.modal, kModalNone);
  // Cancel, or a click beside the card, closes without writing.
  run_setup_action(ui, 500, a);
  a.calls.clear();
  dispatch_click(ui, 0, 0, 0, a, bridge);
  EXPECT_EQ(a.joined(), "edit close");
  EXPECT_EQ(ui.modal, kModalNone);
  // Opening a second dialog closes the first edit box.
  run_setup_action(ui, 500, a);
  a.calls.clear();
  run_setup_action(ui, 501, a);
  EXPECT_EQ(a.joined(), "edit close; edit open 1 ''");
  EXPECT_EQ(ui.address_console, 1);
}

TEST(AddressDialog, OverlongTypedTextIsCut) {
  FakeActions a;
  DashboardUiState ui;
  run_setup_action(ui, 500, a);
  a.edit_text = std::string(62, ' ') + "1.2.3.4";  // the address lies beyond the 63 characters read
  RecordingBridge bridge;
  dispatch_click(ui, 463, 0, 0, a, bridge);
  EXPECT_EQ(ui.modal, kModalAddress);
  EXPECT_TRUE(a.settings[0].empty());
}

TEST(ConfirmTypedAddress, OnlyWhenTheConsoleAnswersThere) {
  StatusSnapshot s;
  s.present = 1;
  s.version = 17;
  s.desk_answering = 1;
  std::strcpy(s.address_ip, "10.0.0.10");
  std::strcpy(s.address_id, "WING-123");
  DashboardUiState ui;
  EXPECT_EQ(confirm_typed_address(ui, 0, s, ""), "");  // nothing remembered
  struct Case {
    const char* name;
    void (*change)(StatusSnapshot&);
    std::string want;
  } cases[] = {
      {"answers there", [](StatusSnapshot&) {}, "WING-123"},
      {"older layout", [](StatusSnapshot& t) { t.version = 16; }, ""},
      {"link down", [](StatusSnapshot& t) { t.desk_answering = 0; }, ""},
      {"address problem", [](StatusSnapshot& t) { t.address_state = 2; }, ""},
      {"no identity", [](StatusSnapshot& t) { t.address_id[0] = 0; }, ""},
      {"another address", [](StatusSnapshot& t) { std::strcpy(t.address_ip, "10.0.0.11"); }, ""},
      {"no block", [](StatusSnapshot& t) { t.present = 0; }, ""},
  };
  for (const Case& c : cases) {
    StatusSnapshot t = s;
    c.change(t);
    ui.remembered_address[0] = "10.0.0.10";
    EXPECT_EQ(confirm_typed_address(ui, 0, t, ""), c.want) << c.name;
    // Forgotten once confirmed, kept while waiting.
    EXPECT_EQ(ui.remembered_address[0].empty(), !c.want.empty()) << c.name;
  }
  // A console key already in the settings wins: the remembered address is dropped.
  ui.remembered_address[0] = "10.0.0.10";
  EXPECT_EQ(confirm_typed_address(ui, 0, s, "OTHER"), "");
  EXPECT_TRUE(ui.remembered_address[0].empty());
  EXPECT_EQ(confirm_typed_address(ui, 5, s, ""), "");
}

TEST(ClickDispatch, ModalPagesOwnTheClicks) {
  FakeActions a;
  RecordingBridge bridge;
  DashboardUiState ui;
  ui.modal = kModalReroute;
  dispatch_click(ui, 700, 1, 2, a, bridge);
  dispatch_click(ui, 401, 1, 2, a, bridge);  // the setup page's ids do not act under it
  EXPECT_EQ(bridge.reroute, (std::vector<int32_t>{700, 401}));
  EXPECT_TRUE(a.calls.empty());
  // The remove page: any click closes it; 13 removes.
  for (int32_t modal : {1, 3, 9}) {
    ui.modal = modal;
    dispatch_click(ui, 401, 0, 0, a, bridge);
    EXPECT_EQ(ui.modal, kModalNone);
  }
  EXPECT_TRUE(a.calls.empty());
  ui.modal = kModalRemove;
  dispatch_click(ui, 13, 0, 0, a, bridge);
  EXPECT_EQ(a.joined(), "remove");
  EXPECT_EQ(ui.action_message.text, "Removed. LV1 will use the stock Waves module again.");
  ui.modal = kModalRemove;
  a.remove_ok = false;
  dispatch_click(ui, 13, 0, 0, a, bridge);
  EXPECT_EQ(ui.action_message.text, "Could not remove" + kEm + "Close eMotion LV1 first.");
}

TEST(ClickDispatch, BasePageOrder) {
  FakeActions a;
  RecordingBridge bridge;
  DashboardUiState ui;
  // No region with nothing open: nothing to repaint.
  EXPECT_FALSE(dispatch_click(ui, 0, 0, 0, a, bridge));
  // A channel cell opens the channel page and closes the details; the same cell closes it.
  ui.details_open = true;
  ui.action_reply = "Refused";
  dispatch_click(ui, 1005, 0, 0, a, bridge);
  EXPECT_EQ(ui.selected_channel, 5);
  EXPECT_FALSE(ui.details_open);
  EXPECT_TRUE(ui.action_reply.empty());
  dispatch_click(ui, 1005, 0, 0, a, bridge);
  EXPECT_EQ(ui.selected_channel, -1);
  // The channel page's own ids keep it open and go to the bridge pages.
  dispatch_click(ui, 1007, 0, 0, a, bridge);
  dispatch_click(ui, 31, 0, 0, a, bridge);
  dispatch_click(ui, 32, 0, 0, a, bridge);
  EXPECT_EQ(ui.selected_channel, 7);
  EXPECT_EQ(bridge.page, (std::vector<int32_t>{31, 32}));
  // The background closes it and does nothing else.
  EXPECT_TRUE(dispatch_click(ui, 0, 0, 0, a, bridge));
  EXPECT_EQ(ui.selected_channel, -1);
  // An id outside 20-32 closes it and still acts.
  dispatch_click(ui, 1007, 0, 0, a, bridge);
  dispatch_click(ui, 460, 0, 0, a, bridge);
  EXPECT_EQ(ui.selected_channel, -1);
  EXPECT_EQ(ui.modal, kModalConfirmUpdate);
  ui.modal = 0;
  // Details toggle; any other click closes them first.
  dispatch_click(ui, 12, 0, 0, a, bridge);
  EXPECT_TRUE(ui.details_open);
  EXPECT_TRUE(dispatch_click(ui, 0, 0, 0, a, bridge));
  EXPECT_FALSE(ui.details_open);
  // Console tabs and grid commands are the bridge pages'.
  bridge.page.clear();
  for (int32_t id : {900, 901, 15, 19, 26}) dispatch_click(ui, id, 0, 0, a, bridge);
  EXPECT_EQ(bridge.page, (std::vector<int32_t>{900, 901, 15, 19, 26}));
  // Ids nobody owns do nothing.
  a.calls.clear();
  dispatch_click(ui, 5, 0, 0, a, bridge);
  dispatch_click(ui, 777, 0, 0, a, bridge);
  EXPECT_TRUE(a.calls.empty());
}

TEST(ClickDispatch, DashCommands) {
  struct Case {
    int32_t id;
    bool found, lv1_ok, install_ok;
    std::string calls, message;
    bool failed;
  } cases[] = {
      {1, false, true, true, "bundle", "old", false},
      {2, false, true, true, "install; hints", "Installed. Start eMotion LV1 and assign the card.",
       false},
      {2, false, true, false, "install", "Could not install" + kEm + "the folder is locked.", true},
      {4, true, true, true, "discover; locate", "", false},
      {4, false, true, true, "discover; locate", "Nothing answered. Is the desk on this network?",
       true},
      {6, false, true, true, "locate; discover; place", "old", false},
      {7, false, true, true, "open lv1", "Starting eMotion LV1\xE2\x80\xA6", false},
      {7, false, false, true, "open lv1", "Could not find eMotion LV1 on this machine.", true},
      {8, false, true, true, "report", "old", false},
  };
  for (const Case& c : cases) {
    FakeActions a;
    a.found[1] = c.found;
    a.lv1_ok = c.lv1_ok;
    a.install_ok = c.install_ok;
    RecordingBridge bridge;
    DashboardUiState ui;
    ui.action_message.set("old", false);
    dispatch_click(ui, c.id, 0, 0, a, bridge);
    EXPECT_EQ(a.joined(), c.calls) << c.id;
    EXPECT_EQ(ui.action_message.text, c.message) << c.id;
    EXPECT_EQ(ui.action_message.failed, c.failed) << c.id;
  }
  FakeActions a;
  RecordingBridge bridge;
  DashboardUiState ui;
  dispatch_click(ui, 3, 0, 0, a, bridge);
  EXPECT_EQ(ui.modal, kModalRemove);
  ui.modal = 0;
  dispatch_click(ui, 6, 0, 0, a, bridge);
  EXPECT_TRUE(ui.setup_open);
}

TEST(TrayMenuCommands, ConsoleToggle) {
  FakeActions a;
  DashboardUiState ui;
  a.on[1] = true;
  toggle_console_from_menu(ui, 1, a);
  EXPECT_EQ(ui.action_message.text, "Kestrune off for Behringer X32 / Midas M32.");
  toggle_console_from_menu(ui, 1, a);
  EXPECT_EQ(ui.action_message.text, "Kestrune on for Behringer X32 / Midas M32.");
  EXPECT_EQ(a.joined(), "switch 1 off; locate; switch 1 on; locate");
  a.switch_ok = false;
  toggle_console_from_menu(ui, 0, a);
  EXPECT_EQ(ui.action_message.text, "state.cfg is read-only.");
  EXPECT_TRUE(ui.action_message.failed);
  a.calls.clear();
  toggle_console_from_menu(ui, 2, a);
  EXPECT_TRUE(a.calls.empty());
}

}  // namespace
}  // namespace ks::tray
