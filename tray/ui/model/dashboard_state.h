// One picture of everything a dashboard or setup page can show, taken fresh for every page model.
// Every live fact comes through DashboardSources, so the same gathering runs over the system,
// over the preview's demo record, and over fakes in the tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "shared/loader_block.h"
#include "tray/services/discovery.h"  // DiscoveryRecord: the tray's last search per console kind
#include "tray/ui/model/status_snapshot.h"

namespace ks::tray {

inline constexpr int kWing = 0;
inline constexpr int kX32 = 1;
inline constexpr uint32_t kLinkAgeNever = 0xFFFFFFFF;

struct DashboardState {
  uint8_t lv1_found;
  uint8_t lv1_running;
  uint8_t lv1_exe_present;
  int32_t lv1_uptime_ms;
  std::string lv1_version;
  uint8_t loader_block_present;
  LoaderBlock loader_block;
  uint8_t card_module_present[2];
  uint8_t installed[2];
  uint8_t on[2];
  uint8_t session_recall[2];
  uint8_t resync_lv1[2];
  uint8_t address_known[2];
  StatusSnapshot snapshot[2];
  DiscoveryRecord discovery[2];
  uint8_t blocked;
  uint8_t update_pending;
  uint8_t translocated;          // other platform only
  uint8_t outside_applications;  // other platform only
  uint8_t admin_needed;          // other platform only
  int32_t lv1_network_state;     // other platform only
  uint8_t network_gate;
  uint8_t hands_off[2];
  uint32_t network_state;  // other platform only (4 = allowed)
  uint32_t link_age_ms[2];
  uint8_t platform;
  uint8_t legacy[2];
  uint8_t legacy_any;
  uint8_t identify_offered;
  std::string typed_ip[2];
};

// Where the gathering reads from. The live implementation wraps the status link, the LV1 facts,
// the install state, the load watch, the update flags, the discovery records and the settings
// files; the preview's reads only its demo record. Kinds are 0 (WING) and 1 (X32/M32).
class DashboardSources {
public:
  virtual ~DashboardSources() = default;

  // A source that supplies the whole picture at once (the preview) fills out and returns true;
  // the gathering then reads nothing else.
  virtual bool whole_picture(DashboardState& /*out*/) { return false; }

  // LV1: whether "eMotion LV1.exe" runs and for how long (-1 unknown or not running), its
  // program version from the LV1 build facts without forcing a new read (UTF-8, "" unknown), and
  // whether one of its program paths exists.
  virtual bool lv1_running() = 0;
  virtual int32_t lv1_uptime_ms() = 0;
  virtual std::string lv1_version() = 0;
  virtual bool lv1_exe_present() = 0;
  // The status link's copy of Local\KestruneLoader; false when absent or its magic or size is
  // wrong.
  virtual bool read_loader_block(LoaderBlock& out) = 0;
  virtual bool load_blocked() = 0;    // the load watch: Windows refused the loader
  virtual bool update_pending() = 0;  // loader_needs_update, or update_staged
  virtual bool legacy_install() = 0;  // g_legacy_install: an older layout is installed
  // Install state: the file card_module_path names exists; console_module_state (the install can
  // drive this console; on tells whether state.cfg has it on); card_module_is_ours or
  // legacy_bundle_present.
  virtual bool card_module_present(int kind) = 0;
  virtual bool console_module_state(int kind, bool& on) = 0;
  virtual bool legacy_console(int kind) = 0;
  // read_status_snapshot with suffix "" (WING) or "-x32"; an all-zero snapshot when absent.
  virtual void read_status_snapshot(int kind, StatusSnapshot& out) = 0;
  // The tray's own console discovery record of that kind.
  virtual DiscoveryRecord discovery(int kind) = 0;
  // The file at console_cfg_path, whole (bounded by the reader). false when it cannot be read.
  virtual bool read_settings(int kind, std::string& text) = 0;
  // The address entry's confirm_typed_address: the identity to store as `console` once the
  // console answered at the typed address, else "".
  virtual std::string confirm_typed_address(int kind, const StatusSnapshot& snapshot,
                                            std::string_view console_key) = 0;
  // cfg_set on that console's settings file.
  virtual bool write_setting(int kind, const char* key, std::string_view value) = 0;
  virtual uint64_t steady_ms() = 0;
  virtual void log(std::string_view /*line*/) {}  // the tray log
};

// What the gathering takes from one settings file, read with the console module's own rules:
// keys without regard to case, the value up to CR, LF or ";", the last line of a key wins;
// session_recall is off when its value begins with "off" in any case; resync is the desk only
// for "desk" in any case (blanks around it ignored) and LV1 for anything else, absence included;
// ip and hint lose their surrounding blanks.
struct ConsoleSettings {
  bool session_recall = true;
  bool resync_lv1 = true;
  std::string ip, hint, console;
};
ConsoleSettings read_console_settings(std::string_view text);

// The two "last seen up" times of update_link_ages; program-wide in the tray program.
struct LinkAgeMemory {
  uint64_t last_up[2] = {0, 0};
};

void dashboard_state_init(DashboardState& out);
DashboardState& gather_dashboard_state(DashboardSources& src, DashboardState& out,
                                       LinkAgeMemory& ages);
void update_link_ages(DashboardState& state, uint64_t now_ms, LinkAgeMemory& ages);

// Severity rank of a console card state code, 0 most severe; 99 for an unknown code.
int code_rank(uint32_t code);

// The snapshot says the desk link is up.
inline bool desk_up(const StatusSnapshot& s) { return s.present && s.desk_answering; }

}  // namespace ks::tray
