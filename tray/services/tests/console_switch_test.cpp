// state.cfg as the tray reads and writes it, checked against the loader's own reader; console
// on/off; the command-line type match; the loader's event, opened and never created.
#include "tray/services/console_switch.h"

#include <gtest/gtest.h>

#include <string>

#include "loader/module_manager_rules.h"
#include "os/event.h"
#include "os/file.h"
#include "os/tests/support/process.h"
#include "tray/services/settings_file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

bool loader_enabled(const std::string& text, int console) {
  TypeSwitches sw[2];
  parse_state_cfg(text, sw);
  return sw[console].enabled;
}

TEST(StateCfg, TrayReadsWhatTheLoaderDoes) {
  // 127 bytes, then a piece of its own.
  const std::string long_comment = "; " + std::string(125, '-') + "x32=off\n";
  const std::string long_on = "wing=on" + std::string(120, ' ') + "wing=off\n";
  struct Case {
    const char* what;
    std::string text;
    bool wing, x32;
  } const cases[] = {
      {"no file or no line: on", "", true, true},
      {"as installed", "wing=on\r\nx32=on\r\n", true, true},
      {"after an edit", "wing=on\nx32=off\n", true, false},
      {"key and value without case", "WING=Off\n", false, true},
      {"any value beginning with off", "x32=offline\n", true, false},
      {"value with a comment", "wing=OFF ; show\r\n", false, true},
      {"the last line wins", "wing=off\nwing=on\nx32=on\nx32=off\n", true, false},
      {"a blank before '=' is another key", "wing =off\n", true, true},
      {"a line without '='", "wing\noff\n", true, true},
      {"guest lines do not switch a type", "wing.guest=1\nx32.guest=0\n", true, true},
      {"an unknown value is on", "x32=no\nwing=0\n", true, true},
      {"0x1A is data", "\x1a\nx32=off\n", true, false},
      {"last line without LF", "wing=on\nx32=off", true, false},
      {"a long line reads as pieces, as the loader reads it", long_comment, true, false},
      {"and a piece of a long key line is a line of its own", long_on, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(state_says_on(c.text, 0), c.wing) << c.what;
    EXPECT_EQ(state_says_on(c.text, 1), c.x32) << c.what;
    EXPECT_EQ(loader_enabled(c.text, 0), c.wing) << "loader, " << c.what;
    EXPECT_EQ(loader_enabled(c.text, 1), c.x32) << "loader, " << c.what;
  }
  EXPECT_EQ(installed_state_cfg(true, true), "wing=on\r\nx32=on\r\n");
  EXPECT_EQ(installed_state_cfg(true, false), "wing=on\r\nx32=off\r\n");
  EXPECT_EQ(installed_state_cfg(false, true), "wing=off\r\nx32=on\r\n");
}

TEST(ModuleEnabled, SwitchingOffRewritesOneLineAndTheLoaderSeesIt) {
  TempFolder dir;
  const std::string state = dir.at("state.cfg");
  put(state, installed_state_cfg(true, true));
  std::string message = "untouched";
  ASSERT_TRUE(set_module_enabled(dir.path(), 1, false, message));
  EXPECT_EQ(message, "untouched");
  EXPECT_EQ(slurp(state), "wing=on\nx32=off\n");
  EXPECT_TRUE(loader_enabled(slurp(state), 0));
  EXPECT_FALSE(loader_enabled(slurp(state), 1));

  ASSERT_TRUE(set_module_enabled(dir.path(), 0, false, message));
  ASSERT_TRUE(set_module_enabled(dir.path(), 1, true, message));
  EXPECT_EQ(slurp(state), "wing=off\nx32=on\n");
  EXPECT_FALSE(loader_enabled(slurp(state), 0));
  EXPECT_TRUE(loader_enabled(slurp(state), 1));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"state.cfg"});

  // A hand-edited file with the key in capitals and twice: every line of the key follows.
  put(state, "WING=off\r\nx32=on\r\nwing=off\r\n");
  ASSERT_TRUE(set_module_enabled(dir.path(), 0, true, message));
  EXPECT_EQ(slurp(state), "wing=on\nx32=on\nwing=on\n");
  EXPECT_TRUE(loader_enabled(slurp(state), 0));

  // The loader's hands-off line is not the type's line and survives the switch.
  put(state, "wing=on\r\nwing.guest=1\r\nx32=on\r\n");
  ASSERT_TRUE(set_module_enabled(dir.path(), 0, false, message));
  EXPECT_EQ(slurp(state), "wing=off\nwing.guest=1\nx32=on\n");
  TypeSwitches sw[2];
  parse_state_cfg(slurp(state), sw);
  EXPECT_FALSE(sw[0].enabled);
  EXPECT_TRUE(sw[0].hands_off);
}

TEST(ModuleEnabled, AFailedWriteSaysWhichFile) {
  TempFolder dir;
  const std::string missing = dir.at("gone");
  std::string message;
  EXPECT_FALSE(set_module_enabled(missing, 0, true, message));
  EXPECT_EQ(message, "Could not write " + state_cfg_path(missing) + ".");
  EXPECT_FALSE(dir_exists(missing));

  // state.cfg that is a folder: nothing is written over it.
  ASSERT_TRUE(make_dirs(dir.at("state.cfg")));
  message.clear();
  EXPECT_FALSE(set_module_enabled(dir.path(), 1, false, message));
  EXPECT_EQ(message, "Could not write " + dir.at("state.cfg") + ".");

  message.clear();
  EXPECT_FALSE(set_module_enabled(dir.path(), 2, false, message));
  EXPECT_FALSE(message.empty());
}

TEST(ModuleState, NeedsOurLoaderAndTheCardModule) {
  TempFolder dir;
  put(dir.at("card-wing.dll"), "MZ");
  std::string asked_loader;
  bool own = true;
  InstallProbe probe;
  probe.is_own_module = [&](const std::string& p) {
    asked_loader = p;
    return own;
  };
  probe.card_module_path = [&](int console) {
    return dir.at(console == 0 ? "card-wing.dll" : "card-x32.dll");
  };

  bool on = false;
  EXPECT_FALSE(console_module_state("", 0, probe, on));
  ASSERT_TRUE(console_module_state(dir.path(), 0, probe, on));
  EXPECT_EQ(asked_loader, dir.at("Kestrune.dll"));
  EXPECT_TRUE(on) << "no state.cfg: on";
  EXPECT_FALSE(console_module_state(dir.path(), 1, probe, on)) << "X32 card module missing";
  EXPECT_FALSE(console_module_state(dir.path(), 2, probe, on));

  put(dir.at("state.cfg"), "WING=Off\r\nx32=on\r\n");
  on = true;
  ASSERT_TRUE(console_module_state(dir.path(), 0, probe, on));
  EXPECT_FALSE(on);
  put(dir.at("card-x32.dll"), "MZ");
  ASSERT_TRUE(console_module_state(dir.path(), 1, probe, on));
  EXPECT_TRUE(on);

  own = false;
  EXPECT_FALSE(console_module_state(dir.path(), 0, probe, on)) << "somebody else's Kestrune.dll";
  EXPECT_FALSE(console_module_state(dir.path(), 0, InstallProbe{}, on));
}

TEST(OnOffOption, MatchesTheTypeKeyOverItsLength) {
  struct Case {
    const char* command_line;
    bool found, on;
    int console;
  } const cases[] = {
      {"Kestrune.exe --on=wing", true, true, 0},
      {"Kestrune.exe --off=x32", true, false, 1},
      {"Kestrune.exe --off=X32", true, false, 1},
      {"Kestrune.exe --on=WiNg", true, true, 0},
      {"\"C:\\Program Files\\Kestrune\\Kestrune.exe\" --off=wingfoo", true, false, 0},
      {"Kestrune.exe --on=x32 --tray", true, true, 1},
      {"Kestrune.exe --on=m32", true, true, -1},
      {"Kestrune.exe --on=wi", true, true, -1},
      {"Kestrune.exe --on=", true, true, -1},
      {"Kestrune.exe --off= wing", true, false, -1},
      {"Kestrune.exe --off=x32 --on=wing", true, true, 0},  // "--on=" is looked for first
      {"Kestrune.exe --tray", false, false, -1},
      {"Kestrune.exe --ON=wing", false, false, -1},
      {"", false, false, -1},
  };
  for (const auto& c : cases) {
    OnOffRequest r;
    r.console = 7;
    EXPECT_EQ(find_on_off_request(c.command_line, r), c.found) << c.command_line;
    EXPECT_EQ(r.on, c.on) << c.command_line;
    EXPECT_EQ(r.console, c.console) << c.command_line;
  }
}

// ---- the loader's event ----------------------------------------------------------------------

std::string peer() {
#ifdef _WIN32
  return ks::testing::exe_dir() + "tray_event_peer.exe";
#else
  return ks::testing::exe_dir() + "tray_event_peer";
#endif
}

TEST(ModulesEvent, MissingEventIsNotCreated) {
  const std::string name = ks::testing::unique_name("modules-changed");
  EXPECT_FALSE(set_event_if_exists(name));
  Event probe;
  EXPECT_FALSE(probe.open_named(name)) << "setting a missing event must not create it";
  EXPECT_FALSE(set_event_if_exists(""));
}

TEST(ModulesEvent, SetWhenAnotherProcessCreatedIt) {
  const std::string name = ks::testing::unique_name("modules-changed");
  const std::string ready_name = ks::testing::unique_name("peer-ready");
  Event ready;
  ASSERT_TRUE(ready.create_named(ready_name, Event::Reset::manual));
  ks::testing::Child child;
  ASSERT_TRUE(child.start(peer(), {name, ready_name, "20000"}));
  ASSERT_TRUE(ready.wait(20000)) << "the peer never created the event";
  EXPECT_TRUE(set_event_if_exists(name));
  int code = -1;
  ASSERT_TRUE(child.wait(30000, code));
  EXPECT_EQ(code, 0) << "the peer did not see the event set (3) or failed a step (1x)";
}

}  // namespace
}  // namespace ks::tray
