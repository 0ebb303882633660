// The diagnostics report and the support bundle on this machine: the facts gathered from the
// live system (install state, loader block, LV1's build, the console module's status block, the
// logs), the Desktop file, the bundle zipped by tar.exe (the folder stays when that fails), and
// the message boxes the menu and the dashboard show. Windows only.
#pragma once

#include <cstdint>
#include <string>

#include "tray/services/diagnostics_report.h"
#include "tray/services/support_bundle.h"

struct HWND__;

namespace ks::tray {

class InstallPaths;

struct DiagGatherEnv {
  std::string temp;                      // this account's temporary folder, no trailing separator
  std::string users_root = "C:\\Users";  // the accounts' folders, searched when temp has no log
  InstallPaths* install = nullptr;       // null: the machine's, located afresh
};
DiagGatherEnv machine_diag_env();

DiagFacts gather_diagnostics_facts(const DiagGatherEnv& env);

// The report of this machine into `path` (written beside and moved into place, CR LF lines);
// false when it cannot be written.
bool write_diagnostics_report(const std::string& path);
bool write_diagnostics_report(const std::string& path, const DiagGatherEnv& env);

// The known folder Desktop; the temporary folder without its trailing backslash when that fails.
std::string desktop_folder();
LocalStamp local_stamp_now();

struct SupportBundleEnv {
  std::string desktop;         // no trailing separator
  std::string temp;            // the logs' folder, no trailing separator
  std::string install_folder;  // empty when the bundle is not installed
  std::string system_dir;      // where tar.exe is
  LocalStamp stamp;
  uint32_t tar_timeout_ms = 60000;
  DiagGatherEnv report;  // the facts of the report inside
};
SupportBundleEnv machine_support_bundle_env();

// Builds the bundle: `path` is the zip, or the folder when zipping failed; false with the
// message when nothing could be collected or the folder could not be made.
bool create_support_bundle(std::string& path, std::string& message);
bool create_support_bundle(const SupportBundleEnv& env, std::string& path, std::string& message);

// The report into the Desktop file of this minute; its path, or "" when it could not be written.
std::string save_diagnostics_file();

// The menu's and the dashboard's commands: the file, then a message box owned by `owner`
// (the dashboard when it is open, else the tray window). A failed report shows nothing.
bool save_diagnostics_to_desktop(HWND__* owner);
bool save_support_bundle_to_desktop(HWND__* owner);

}  // namespace ks::tray
