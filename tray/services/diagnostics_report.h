// The diagnostics report as text: the facts are gathered elsewhere (from the live system), the
// format lives here so that every line can be checked as text.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ks::tray {

struct DiagLoaderType {
  std::string type;  // "wing", "x32"
  bool enabled = false;
  bool waves_module_loaded = false;
  std::string running_version;  // empty: nothing running
  uint32_t load_failures = 0;
  std::string last_refused;
  uint32_t last_error = 0;
};

struct DiagGainGroup {
  std::string group;
  double min_db = 0, max_db = 0, step_db = 0;
  uint32_t channels = 0;
};

struct DiagRemotePort {
  std::string name;
  bool connected = false;
  uint32_t strips_without_knob = 0;
};

struct DiagPatchRow {
  int32_t lv1_channel = 0;
  std::string input_group;
  int32_t input_number = 0;
  std::string input_name;  // empty: "(none)"
  double gain_db = 0;
  int32_t phantom = 0;
};

struct DiagStatus {
  uint32_t layout_version = 0;
  uint32_t expected_version = 17;
  bool mismatch = false;
  std::string lv1_build_profile, device_mac, desk_name, desk_identity;
  uint32_t connected = 0, loaded = 0, degraded = 0;
  std::string degraded_reason;
  int32_t watching = 0;
  std::string fallback_bank;
  int32_t fallback_base = 0;
  uint32_t patch_age_ms = 0, sent = 0, received = 0;
  std::vector<DiagGainGroup> groups;
  std::vector<DiagRemotePort> ports;
  std::vector<DiagPatchRow> patch;
};

enum class DiagInstall { not_installed, older_layout, behind, current };

struct DiagLog {
  std::string path;
  std::optional<std::string> text;  // absent: it could not be opened
};

struct DiagFacts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string version_text;
  bool install_folder_known = false;
  DiagInstall install = DiagInstall::not_installed;
  std::string installed_version;  // from kestrune.version; empty: unknown
  bool diag_enabled = false;
  std::optional<std::string> loader_version;  // absent: no loader block
  std::vector<DiagLoaderType> loader_types;
  std::string lv1_path;  // empty: not found
  bool mixer_core_read = false;
  std::string mixer_core_path;
  uint64_t mixer_core_size = 0;
  std::string profile_name;  // empty: no offset profile
  bool profile_from_file = false;
  std::optional<DiagStatus> status;
  int unreadable_accounts = 0;  // counted only when no log folder was found
  bool log_folder_found = true;
  std::vector<DiagLog> logs;
};

inline constexpr size_t kReportLogTail = 0x40000;  // the last 256 KiB of each log

// The last kReportLogTail bytes of a log's text; the first line may be partial.
std::string log_tail(const std::string& text);
std::string format_diagnostics_report(const DiagFacts& facts);

}  // namespace ks::tray
