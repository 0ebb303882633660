// The running console module picks up the tray's edits through its own paths: the live reload
// of diag and session_recall, and the address reload of ip and console.
#include <gtest/gtest.h>

#include "bridge/config.h"
#include "bridge/settings.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "os/file.h"
#include "os/tests/support/manual_clock.h"
#include "tray/services/settings_file.h"

namespace ks::tray {
namespace {

class RunningModule : public FrameworkTest {
protected:
  std::string path() { return path_join(dir, "wing.cfg"); }
  // Rewrites land in a new file: wait out a coarse file clock so its time differs.
  void pause_for_file_clock() { sleep_ms(30); }
};

TEST_F(RunningModule, SeesDiagAndSessionRecallTheTraySet) {
  ManualClock clock(1000, ManualClock::Mode::automatic);
  set_bridge_clock(&clock);
  // A hand-edited file with the keys in capitals, which the live reload does not read.
  write_text(path(), std::string(kSettingsTemplate) + "DIAG=0\r\nSession_Recall=on\r\n");
  config_load(path());
  config_reload_live();  // the first look only remembers the file's time
  ASSERT_FALSE(settings().diag.load());

  pause_for_file_clock();
  ASSERT_TRUE(set_diag(dir, true));
  ASSERT_TRUE(cfg_set(path(), "session_recall", "off"));
  if (last_write_time(path()) == 0) GTEST_SKIP() << "no file times here";
  clock.advance(3000);
  config_reload_live();
  EXPECT_TRUE(settings().diag.load());
  EXPECT_FALSE(settings().session_recall.load());
  EXPECT_TRUE(host().logged("[cfg] detailed logging ON (changed in kestrune settings)"));

  pause_for_file_clock();
  ASSERT_TRUE(set_diag(dir, false));
  clock.advance(3000);
  config_reload_live();
  EXPECT_FALSE(settings().diag.load());
  EXPECT_EQ(diag_enabled(path()), settings().diag.load());
}

TEST_F(RunningModule, SeesTheAddressAndConsoleTheTraySet) {
  write_text(path(), std::string(kSettingsTemplate) + "IP=10.0.0.1\r\nconsole=S1\r\n");
  config_load(path());
  ASSERT_TRUE(cfg_set(path(), "ip", "192.168.5.9"));
  ASSERT_TRUE(cfg_set(path(), "console", "S77"));
  AddressReload r = config_reload_address();
  EXPECT_TRUE(r.ip_changed);
  EXPECT_TRUE(r.console_changed);
  char ip[64], console[40];
  config_ip(ip);
  config_console(console);
  EXPECT_STREQ(ip, "192.168.5.9");
  EXPECT_STREQ(console, "S77");

  // Clearing the address from the tray clears it in the module.
  ASSERT_TRUE(cfg_set(path(), "ip", ""));
  r = config_reload_address();
  EXPECT_TRUE(r.ip_changed);
  config_ip(ip);
  EXPECT_STREQ(ip, "");
  EXPECT_EQ(cfg_get(path(), "ip"), "");
}

}  // namespace
}  // namespace ks::tray
