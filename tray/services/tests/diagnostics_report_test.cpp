// The report's fixed lines from given facts, checked as text.
#include "tray/services/diagnostics_report.h"

#include <gtest/gtest.h>

#include <string>

namespace ks::tray {
namespace {

bool has_line(const std::string& report, const std::string& line) {
  return report.find("\n" + line + "\n") != std::string::npos || report.rfind(line + "\n", 0) == 0;
}

DiagFacts live() {
  DiagFacts f;
  f.year = 2026, f.month = 12, f.day = 11, f.hour = 6, f.minute = 5, f.second = 9;
  f.version_text = "3.2.0 standard \xC2\xB7 abc123";
  f.install_folder_known = true;
  f.install = DiagInstall::current;
  f.installed_version = "3.2.0";
  f.loader_version = "3.2.0";
  f.loader_types = {{"wing", true, true, "3.2.0", 0, "", 0},
                    {"x32", false, false, "", 2, "x32-3.1.0.dll", 4551}};
  f.lv1_path = "C:\\Program Files\\Waves\\eMotion LV1\\eMotion LV1.exe";
  f.mixer_core_read = true;
  f.mixer_core_path = "C:\\LV1\\MixerCoreSG.dll";
  f.mixer_core_size = 123456;
  f.profile_name = "11.0.1";
  f.profile_from_file = true;
  DiagStatus s;
  s.layout_version = 16;
  s.mismatch = true;
  s.desk_name = "FOH";
  s.desk_identity = "WING 3.0";
  s.connected = 1, s.loaded = 1;
  s.groups = {{"LCL", -3.0, 45.5, 0.5, 8}};
  s.ports = {{"AES-A", false, 2}};
  s.patch = {{1, "LCL", 3, "", 12.5, 1}};
  f.status = s;
  f.logs = {{"C:\\t\\kestrune.log", std::string("a line\nlast")},
            {"C:\\t\\kestrune-x32.log", std::nullopt}};
  return f;
}

TEST(DiagnosticsReport, LiveSystemLines) {
  std::string r = format_diagnostics_report(live());
  const char* lines[] = {
      "Kestrune diagnostics  2026-12-11 06:05:09",
      "Kestrune             : 3.2.0 standard \xC2\xB7 abc123",
      "installed module     : this app's version, or newer - installed loader 3.2.0",
      "detailed logging     : off",
      "loader               : 3.2.0",
      "  wing               : on, Waves module yes, running 3.2.0 (error 0)",
      "  x32                : off, Waves module NO, running nothing, last refused x32-3.1.0.dll (error 4551)",
      "eMotion LV1          : C:\\Program Files\\Waves\\eMotion LV1\\eMotion LV1.exe",
      "MixerCoreSG.dll      : C:\\LV1\\MixerCoreSG.dll, 123456 bytes",
      "LV1 build check      : supported (profile 11.0.1, from kestrune_profiles.cfg)",
      "status block version : 16 (tray expects 17)   ** MISMATCH **",
      "desk                 : FOH  (WING 3.0)",
      "connected / loaded   : 1 / 1",
      "  LCL      -3.0 ..   45.5 dB  step 0.50  (8 ch)",
      "remote ports the card reads from",
      "  AES-A  NOTHING CONNECTED, 2 strip(s) from it without a knob",
      "  LV1  1 <- LCL   3   (none)  gain   12.5  48V 1",
      "================ C:\\t\\kestrune.log ================",
      "last",
      "(no log file)",
  };
  for (const char* l : lines)
    EXPECT_TRUE(has_line(r, l)) << "missing: " << l << "\n--- report ---\n" << r;
  EXPECT_NE(r.find(std::string(64, '=') + "\n\n"), std::string::npos);
}

TEST(DiagnosticsReport, EveryMissingSourceIsItsOwnLine) {
  DiagFacts f;
  f.install_folder_known = true;
  f.install = DiagInstall::older_layout;
  f.mixer_core_path = "C:\\LV1\\MixerCoreSG.dll";
  f.log_folder_found = false;
  f.unreadable_accounts = 2;
  std::string r = format_diagnostics_report(f);
  const char* lines[] = {
      "installed module     : older layout (2.x) - press Update in Setup to move it into Kestrune.bundle",
      "loader               : no status (LV1 not running, or Kestrune not loaded in it)",
      "eMotion LV1          : not found",
      "LV1 build check      : could not read C:\\LV1\\MixerCoreSG.dll",
      "bridge not running (LV1 closed, or the module was not loaded)",
      "log: none in this account's %TEMP%, and 2 other Windows account(s) could not be read. If LV1 runs as another "
      "user, collect diagnostics as that user or as administrator.",
  };
  for (const char* l : lines)
    EXPECT_TRUE(has_line(r, l)) << "missing: " << l << "\n--- report ---\n" << r;

  f.install = DiagInstall::behind;
  f.installed_version.clear();
  r = format_diagnostics_report(f);
  EXPECT_TRUE(has_line(
      r,
      "installed module     : BEHIND this app's - it installs once LV1 is closed - installed loader "
      "of unknown version (installed before the version file existed)"))
      << r;
}

TEST(DiagnosticsReport, LongLogIsCutToItsLast256KiB) {
  std::string text(300 * 1024, 'x');
  text[text.size() - kReportLogTail] = 'S';      // the first byte kept
  text[text.size() - kReportLogTail - 1] = 'D';  // the last byte dropped
  std::string tail = log_tail(text);
  ASSERT_EQ(tail.size(), kReportLogTail);
  EXPECT_EQ(tail[0], 'S');
  EXPECT_EQ(tail.find('D'), std::string::npos);
  EXPECT_EQ(log_tail("short"), "short");
}

}  // namespace
}  // namespace ks::tray
