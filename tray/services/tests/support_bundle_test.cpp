// The support bundle's plan and the path the user is told about.
#include "tray/services/support_bundle.h"

#include <gtest/gtest.h>

namespace ks::tray {
namespace {

TEST(SupportBundle, PlanNamesFoldersFilesAndTheTarCommand) {
  BundleInputs in;
  in.desktop = "C:\\users\\u\\Desktop";
  in.temp = "C:\\users\\u\\Temp";
  in.install_folder = "C:\\K\\Contents\\Win64";
  in.system_dir = "C:\\windows\\system32";
  in.stamp = {2026, 3, 7, 9, 5};
  BundlePlan p = plan_support_bundle(in);
  EXPECT_EQ(p.folder, "C:\\users\\u\\Desktop\\Kestrune-support-20260307-0905");
  EXPECT_EQ(p.report, p.folder + "\\Kestrune-diagnostics.txt");
  EXPECT_EQ(p.tar_command,
            "\"C:\\windows\\system32\\tar.exe\" -a -c -f \"C:\\users\\u\\Desktop\\Kestrune-support-"
            "20260307-0905.zip\" -C \"C:\\users\\u\\Desktop\\Kestrune-support-20260307-0905\" .");
  ASSERT_EQ(p.copies.size(), 7u);
  EXPECT_EQ(p.copies[3].first, "C:\\users\\u\\Temp\\kestrune-tray.log");
  EXPECT_EQ(p.copies[6].first, "C:\\K\\Contents\\Win64\\state.cfg");
  EXPECT_EQ(p.copies[6].second, p.folder + "\\state.cfg");

  in.install_folder.clear();
  EXPECT_EQ(plan_support_bundle(in).copies.size(), 4u) << "no settings files without an install";
  EXPECT_EQ(diagnostics_file_name(in.stamp), "Kestrune-diagnostics-20260307-0905.txt");
}

TEST(SupportBundle, TheZipIsReportedOnlyWhenTarSucceededAndLeftIt) {
  BundleInputs in;
  in.desktop = "D";
  in.stamp = {2026, 1, 2, 3, 4};
  BundlePlan p = plan_support_bundle(in);
  EXPECT_EQ(bundle_result_path(p, true, true), p.zip);
  EXPECT_EQ(bundle_result_path(p, true, false), p.folder);
  EXPECT_EQ(bundle_result_path(p, false, true), p.folder)
      << "a failed or killed tar leaves a partial zip";
  EXPECT_EQ(bundle_result_path(p, false, false), p.folder);
}

}  // namespace
}  // namespace ks::tray
