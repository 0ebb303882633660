// ks-test: lock=loader-block
// The real event name under Wine: a second process creates Local\KestruneModulesChanged as the
// loader does, and switching a console off sets it; with nobody holding it nothing breaks.
#include <windows.h>

#include <gtest/gtest.h>

#include "loader/module_manager_rules.h"
#include "os/event.h"
#include "os/tests/support/process.h"
#include "shared/names.h"
#include "tray/services/console_switch.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

std::string peer() { return ks::testing::exe_dir() + "tray_event_peer.exe"; }

TEST(ModulesChanged, SwitchingOffSetsTheLoadersEvent) {
  TempFolder dir;
  put(dir.at("state.cfg"), installed_state_cfg(true, true));
  const std::string ready_name = ks::testing::unique_name("peer-ready");
  Event ready;
  ASSERT_TRUE(ready.create_named(ready_name, Event::Reset::manual));
  ks::testing::Child loader;
  ASSERT_TRUE(loader.start(peer(), {kModulesChangedEventName, ready_name, "20000"}));
  ASSERT_TRUE(ready.wait(20000)) << "the stand-in loader never created the event";

  std::string message;
  ASSERT_TRUE(set_module_enabled(dir.path(), 1, false, message)) << message;
  int code = -1;
  ASSERT_TRUE(loader.wait(30000, code));
  EXPECT_EQ(code, 0) << "the stand-in loader did not see the event set (3) or failed a step (1x)";
  TypeSwitches sw[2];
  parse_state_cfg(slurp(dir.at("state.cfg")), sw);
  EXPECT_TRUE(sw[0].enabled);
  EXPECT_FALSE(sw[1].enabled);
}

TEST(ModulesChanged, WithoutALoaderNothingIsCreated) {
  TempFolder dir;
  signal_modules_changed();
  std::string message;
  EXPECT_TRUE(set_module_enabled(dir.path(), 0, false, message));
  EXPECT_EQ(slurp(dir.at("state.cfg")), "wing=off\n");
  HANDLE h =
      OpenEventW(SYNCHRONIZE, FALSE, reinterpret_cast<const wchar_t*>(kModulesChangedEventNameU16));
  EXPECT_EQ(h, nullptr) << "the tray must never create the loader's event";
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  if (h) CloseHandle(h);
}

}  // namespace
}  // namespace ks::tray
