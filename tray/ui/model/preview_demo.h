// The preview's made-up system: the demo record every preview page is drawn from, the named
// setup situations, and the demo status block of the dashboard pages. Nothing here reads the
// network, the installation or a settings file, and nothing writes one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "shared/status_block.h"
#include "tray/ui/model/dashboard_state.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/ui_state.h"

namespace ks::tray {

struct PreviewConsole {
  bool card_module = true;  // Waves' card module is in the bundle
  bool installed = false;
  bool on = false;
  bool legacy = false;  // runs on the older layout
  bool found = false;   // the tray's discovery found it
  bool status_block = false;
  bool answering = false;
  uint32_t link_age_ms = kLinkAgeNever;
  bool loaded = false;  // the loader has the type loaded in LV1
  bool live_card = false;
  uint32_t product_id = 0;
  std::string module_version;  // running console module, "" none
  uint32_t failures = 0;       // failed module loads
  std::string failed_file;
  uint32_t extra_cards = 0;
  bool hands_off = false;
  std::string status_text;
  uint32_t decision = 0;     // the module's discovery decision
  bool two_answers = false;  // the module's discovery lists the demo's two answers
  std::string chosen_console;
  uint32_t address_state = 0;
  uint32_t address_moves = 0;
  std::string typed_ip;                  // the `ip` setting
  std::string hint;                      // the `hint` setting
  std::string address_id, address_name;  // what answers at the typed address
  uint8_t aes50_unconnected = 0;  // X32/M32: bit 0 AES50 A, bit 1 AES50 B has nothing connected
  bool recall = true;
  bool resync_lv1 = false;
};

struct PreviewDemo {
  bool preview = false;  // preview mode is on
  bool lv1_installed = true;
  bool lv1_running = false;
  int32_t lv1_uptime_ms = -1;
  bool blocked = false;
  bool update_pending = false;
  bool legacy_any = false;
  bool network_allowed = true;
  PreviewConsole con[2];
  // The state's modal choice: "", "off", "remove", "update" or "addr", and its console.
  std::string modal;
  int32_t modal_con = -1;
  bool open[2] = {false, false};  // the setup page's two open flags
  std::string address_message;    // the address dialog's message line
};

inline constexpr char kDemoLv1Version[] = "17.3.50.135";
inline constexpr char kDemoWingLine[] =
    "WING,10.42.20.2,WING-PP-20060733,wing-rack,0100NDP0604AAE,3.1-0-g9f314617";
inline constexpr char kDemoX32Line[] = "X32,10.42.20.40,M32C-09-6C-83,M32C,4.06";
inline constexpr char kDemoBlockLine[] =
    "WING,10.42.20.2,WING-PP-20060733,wing-rack,0100NDP0604AAE,3.1-0";

// Every setup state of the preview, in table order.
inline constexpr const char* kSetupStates[] = {
    "setup-first",
    "setup-rig",
    "setup-x32",
    "setup-off",
    "setup-looking",
    "setup-trouble",
    "setup-lost",
    "setup-blocked",
    "setup-modblocked",
    "setup-choose",
    "setup-pingone",
    "setup-extracard",
    "setup-aes50",
    "setup-aes50-both",
    "setup-noslot",
    "setup-netblocked",
    "setup-unseen",
    "setup-remembered",
    "setup-shared",
    "setup-translocated",
    "setup-fromdmg",
    "setup-adminfree",
    "setup-lv1off",
    "setup-netask",
    "setup-netwait",
    "setup-perms",
    "setup-netself",
    "setup-macos14",
    "setup-gonedesk",
    "setup-refind",
    "setup-moved",
    "setup-ipother",
    "setup-ipsilent",
    "setup-notfound",
    "setup-addr",
    "setup-addr-set",
    "setup-update",
    "setup-nothing",
    "setup-nothing-addr",
    "setup-nothing-addr-open",
    "setup-nolv1",
    "setup-reopen",
    "setup-migrate",
    "setup-cfm-update",
    "setup-cfm-off",
    "setup-cfm-remove",
    "setup-cfm-remove-lv1",
};
inline constexpr int kSetupStateCount = int(sizeof kSetupStates / sizeof kSetupStates[0]);

// Resets the demo (both card modules present, everything else off, local network allowed),
// marks preview mode and sets the facts of the named state. false for a name not in the table.
bool apply_setup_state(PreviewDemo& demo, std::string_view name);
// apply_setup_state, then the state's modal choice and open flags into the UI state and the
// page-model inputs. false (nothing changed) for an unknown state.
bool apply_render_state(std::string_view name, PreviewDemo& demo, DashboardUiState& ui,
                        PageModelInputs& inputs);

// The whole DashboardState from the demo record.
void fill_demo_snapshot(const PreviewDemo& demo, DashboardState& out);

// The demo status block of the dashboard pages, built in memory.
void make_demo_status_block(StatusBlock& out);

// Sources that read only the demo record: the preview's way through the gathering.
class PreviewSources final : public DashboardSources {
public:
  explicit PreviewSources(const PreviewDemo& demo) : demo_(demo) {}
  bool whole_picture(DashboardState& out) override;
  bool lv1_running() override { return demo_.lv1_running; }
  int32_t lv1_uptime_ms() override { return demo_.lv1_running ? demo_.lv1_uptime_ms : -1; }
  std::string lv1_version() override { return demo_.lv1_installed ? kDemoLv1Version : ""; }
  bool lv1_exe_present() override { return demo_.lv1_installed; }
  bool read_loader_block(LoaderBlock& out) override;
  bool load_blocked() override { return demo_.blocked; }
  bool update_pending() override { return demo_.update_pending; }
  bool legacy_install() override { return demo_.legacy_any; }
  bool card_module_present(int kind) override { return demo_.con[kind & 1].card_module; }
  bool console_module_state(int kind, bool& on) override;
  bool legacy_console(int kind) override { return demo_.con[kind & 1].legacy; }
  void read_status_snapshot(int kind, StatusSnapshot& out) override;
  DiscoveryRecord discovery(int kind) override;
  bool read_settings(int kind, std::string& text) override;
  std::string confirm_typed_address(int, const StatusSnapshot&, std::string_view) override {
    return "";
  }
  // The preview never writes a settings file.
  bool write_setting(int, const char*, std::string_view) override { return false; }
  uint64_t steady_ms() override { return 1; }

private:
  const PreviewDemo& demo_;
};

}  // namespace ks::tray
