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
  std::vector<std::pair<std::string, std::string>> copies;  // source, target: copied when the source exists
  std::string zip;
  std::string tar_exe;
  std::string tar_command;  // the whole command line, program first
};

BundlePlan plan_support_bundle(const BundleInputs& in);

// The path to report: the zip when tar ended with 0 and left it, else the folder.
std::string bundle_result_path(const BundlePlan& plan, bool tar_exit_zero, bool zip_exists);

}  // namespace ks::tray
