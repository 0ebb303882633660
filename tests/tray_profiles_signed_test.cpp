// The build check with a kestrune_profiles.cfg signed by this tree's profiles key, checked by the
// product's own trailer check: the signed profile decides; a changed byte or a missing trailer
// leaves the file out.
#include <gtest/gtest.h>

#include <string>

#include "os/file.h"
#include "sim/lv1proc/mixercore_image.h"
#include "tray/services/lv1_build.h"
#include "tray/services/tests/support/fake_lv1_system.h"

namespace ks::tray {
namespace {

// The fixture's path as this build's file functions take it (Wine reaches the host through Z:).
std::string fixture_path() {
  std::string p = KS_PROFILES_FIXTURE;
#ifdef _WIN32
  for (char& c : p)
    if (c == '/') c = '\\';
  p = "Z:" + p;
#endif
  return p;
}

TEST(SignedProfiles, TheSignedFileAddsAProfileAndATamperedOneDoesNot) {
  std::string signed_file;
  ASSERT_EQ(read_file(fixture_path(), 1 << 16, signed_file), ReadStatus::ok);
  testing::FakeLv1System sys;
  const std::string dir = "C:\\b\\Contents\\Win64";
  const std::string cfg = path_join(dir, kProfilesFileName);
  sys.files[kLv1Locations[0]] = {};
  sys.files["C:\\Program Files (x86)\\Waves\\eMotion LV1\\Modules\\MixerCoreSG.dll"] = {
      sim::make_mixercore_image({0x8F0000, 0x8F054B, 0x118, true}).bytes, 1, ""};
  std::vector<std::string> logged;
  Lv1BuildEnv env;
  env.sys = &sys;
  env.install_dir = [&] { return dir; };
  env.log = [&](const std::string& s) { logged.push_back(s); };
  Lv1BuildCache cache(env);

  sys.files[cfg] = {signed_file, 1, ""};
  Lv1BuildInfo info = cache.get();
  EXPECT_TRUE(info.matched);
  EXPECT_TRUE(info.from_file);
  EXPECT_EQ(info.profile_name, "v17.4");
  EXPECT_TRUE(logged.empty());

  std::string tampered = signed_file;
  tampered[tampered.find("0x118")] = '1';  // "1x118": one byte of the signed part
  sys.files[cfg] = {tampered, 2, ""};
  EXPECT_FALSE(cache.get().matched);
  EXPECT_EQ(logged.size(), 1u);

  sys.files[cfg] = {signed_file.substr(0, signed_file.find("# sig")), 3, ""};  // no trailer
  EXPECT_FALSE(cache.get().matched);
  EXPECT_EQ(logged.size(), 2u);
}

}  // namespace
}  // namespace ks::tray
