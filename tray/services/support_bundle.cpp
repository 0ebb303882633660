#include "tray/services/support_bundle.h"

#include <cstdio>

namespace ks::tray {
namespace {
std::string join(const std::string& a, const std::string& b) { return a + "\\" + b; }
}  // namespace

std::string diagnostics_file_name(const LocalStamp& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Kestrune-diagnostics-%04d%02d%02d-%02d%02d.txt", t.year, t.month,
                t.day, t.hour, t.minute);
  return buf;
}

std::string support_folder_name(const LocalStamp& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Kestrune-support-%04d%02d%02d-%02d%02d", t.year, t.month, t.day,
                t.hour, t.minute);
  return buf;
}

BundlePlan plan_support_bundle(const BundleInputs& in) {
  BundlePlan p;
  p.folder = join(in.desktop, support_folder_name(in.stamp));
  p.report = join(p.folder, "Kestrune-diagnostics.txt");
  for (const char* log :
       {"kestrune-loader.log", "kestrune.log", "kestrune-x32.log", "kestrune-tray.log"})
    p.copies.emplace_back(join(in.temp, log), join(p.folder, log));
  if (!in.install_folder.empty())
    for (const char* cfg : {"wing.cfg", "x32.cfg", "state.cfg"})
      p.copies.emplace_back(join(in.install_folder, cfg), join(p.folder, cfg));
  p.zip = p.folder + ".zip";
  p.tar_exe = join(in.system_dir, "tar.exe");
  p.tar_command = "\"" + p.tar_exe + "\" -a -c -f \"" + p.zip + "\" -C \"" + p.folder + "\" .";
  return p;
}

std::string bundle_result_path(const BundlePlan& plan, bool tar_exit_zero, bool zip_exists) {
  return tar_exit_zero && zip_exists ? plan.zip : plan.folder;
}

}  // namespace ks::tray

namespace ks::tray {

UserMessage diagnostics_saved_message(const std::string& path) {
  return {
      "Kestrune diagnostics",
      "Saved to your Desktop:\n\n" + path +
          "\n\nNothing has been sent anywhere. Attach this file if you are reporting a problem.",
      false};
}

UserMessage support_bundle_message(bool ok, const std::string& s) {
  if (!ok) return {"Kestrune", s, true};
  return {
      "Kestrune support file",
      "Saved to your Desktop:\n\n" + s +
          "\n\nIt contains Kestrune's logs, its settings for each console and a diagnostics report. Nothing has "
          "been sent anywhere - attach it when you report a problem (" +
          kSupportContact + ").",
      false};
}

}  // namespace ks::tray
