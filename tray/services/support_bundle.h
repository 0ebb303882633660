// The support bundle's plan: what is copied where and how tar.exe is started, and which path
// the user is told about afterwards. The Windows side carries the plan out.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace ks::tray {

struct LocalStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

std::string diagnostics_file_name(const LocalStamp& t);  // Kestrune-diagnostics-YYYYMMDD-HHMM.txt
std::string support_folder_name(const LocalStamp& t);    // Kestrune-support-YYYYMMDD-HHMM

struct BundleInputs {
  std::string desktop;         // no trailing separator
  std::string temp;            // the temporary folder, no trailing separator
  std::string install_folder;  // the bundle's install folder; empty when not installed
  std::string system_dir;      // where tar.exe is
  LocalStamp stamp;
};

struct BundlePlan {
  std::string folder;  // on the Desktop
  std::string report;  // folder\Kestrune-diagnostics.txt
  std::vector<std::pair<std::string, std::string>>
      copies;  // source, target: copied when the source exists
  std::string zip;
  std::string tar_exe;
  std::string tar_command;  // the whole command line, program first
};

BundlePlan plan_support_bundle(const BundleInputs& in);

// The path to report: the zip when tar ended with 0 and left it, else the folder.
std::string bundle_result_path(const BundlePlan& plan, bool tar_exit_zero, bool zip_exists);

}  // namespace ks::tray

namespace ks::tray {

inline constexpr char kSupportFolderFailed[] =
    "Could not create the support folder on the Desktop.";
inline constexpr char kSupportNothingYet[] = "There was nothing to collect yet.";
inline constexpr char kSupportContact[] = "support@kestrune.audio";

struct UserMessage {
  std::string title, text;
  bool warning = false;  // else information
};

// The box after a diagnostics report was saved to `path`.
UserMessage diagnostics_saved_message(const std::string& path);
// The box after create_support_bundle: its path on success, its message on failure.
UserMessage support_bundle_message(bool ok, const std::string& path_or_message);

}  // namespace ks::tray
