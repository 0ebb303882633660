#include "loader/module_manager_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace ks {
namespace {

struct Switches {
  bool wing_on, wing_guest, x32_on, x32_guest;
};

Switches parse(const std::string& text) {
  TypeSwitches s[2];
  s[0].enabled = false;  // the parse must reset both, whatever they held
  s[1].hands_off = true;
  parse_state_cfg(text, s);
  return {s[0].enabled, s[0].hands_off, s[1].enabled, s[1].hands_off};
}

TEST(StateCfg, Lines) {
  struct Case {
    const char* text;
    Switches want;
  } cases[] = {
      {"", {true, false, true, false}},
      {"wing=on\r\nx32=off\r\n", {true, false, false, false}},
      {"WING=Off\n", {false, false, true, false}},
      {"Wing=OFFLINE\n", {false, false, true, false}},  // begins with "off"
      {"wing= off\n", {true, false, true, false}},      // a blank first: not "off"
      {"x32.guest=1\n", {true, false, true, true}},
      {"X32.GUEST=10\nwing.guest=0\n", {true, false, true, true}},
      {"x32.guest=yes\n", {true, false, true, false}},
      {"wing=off\nwing=on\n", {true, false, true, false}},           // later line wins
      {"wing off\nx32\n=off\n", {true, false, true, false}},         // no '=' or no key
      {"wing=off", {false, false, true, false}},                     // no final newline
      {"wing.guest=1=2\nx32=off=on\n", {true, true, false, false}},  // key before the first '='
      {"wingx=off\nwing.guestx=1\nx32 =off\n", {true, false, true, false}},
  };
  for (const Case& c : cases) {
    Switches got = parse(c.text);
    EXPECT_EQ(got.wing_on, c.want.wing_on) << c.text;
    EXPECT_EQ(got.wing_guest, c.want.wing_guest) << c.text;
    EXPECT_EQ(got.x32_on, c.want.x32_on) << c.text;
    EXPECT_EQ(got.x32_guest, c.want.x32_guest) << c.text;
  }
}

// A line longer than 127 bytes is read in pieces: its tail starts a piece of its own, so a key
// hidden after 127 bytes still counts, and the long line's own key/value applies to piece one.
TEST(StateCfg, LongLinesAreReadInPieces) {
  std::string filler(127, '#');
  EXPECT_FALSE(parse(filler + "x32=off\n").x32_on);
  EXPECT_TRUE(parse(std::string(126, '#') + "x32=off\n").x32_on);  // "x" in piece one
  EXPECT_FALSE(parse("wing=off" + std::string(200, ' ') + "\n").wing_on);
}

TEST(StateCfg, GarbageChangesNothing) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += char((i * 7919) & 0xff);
  junk.erase(std::remove(junk.begin(), junk.end(), '='), junk.end());
  Switches s = parse(junk);
  EXPECT_TRUE(s.wing_on && s.x32_on && !s.wing_guest && !s.x32_guest);
  s = parse(std::string("\0wing=off\n", 10));  // a NUL is an ordinary byte of the key
  EXPECT_TRUE(s.wing_on);
}

TEST(ModuleFileName, Versions) {
  struct Case {
    const char* name;
    bool ok;
    int major, minor, patch;
  } cases[] = {
      {"wing-4.2.0.dll", true, 4, 2, 0},
      {"WING-4.10.0.DLL", true, 4, 10, 0},
      {"wing-beta-1.2.3.dll", true, 1, 2, 3},  // after the last '-'
      {"wing-0.0.0.dll", true, 0, 0, 0},
      {"wing-999999999.0.1.dll", true, 999999999, 0, 1},
      {"wing-1234567890.0.0.dll", false, 0, 0, 0},  // would not fit
      // The version text must fit its 23 characters whole.
      {"wing-9999999.9999999.9999999.dll", true, 9999999, 9999999, 9999999},
      {"wing-00000001.000000002.3.dll", true, 1, 2, 3},  // leading zeros are not shown
      {"wing-999999999.999999999.999999999.dll", false, 0, 0, 0},
      {"wing-99999999.9999999.9999999.dll", false, 0, 0, 0},
      {"wing-4.2.dll", false, 0, 0, 0},
      {"wing-4.2.0x.dll", false, 0, 0, 0},
      {"wing-4.2.0.1.dll", false, 0, 0, 0},
      {"wing-4.2.0.dll.sig", false, 0, 0, 0},
      {"wing-4.2.0.dl", false, 0, 0, 0},
      {"wing-+4.2.0.dll", false, 0, 0, 0},
      {"wing- 4.2.0.dll", false, 0, 0, 0},
      {"wing-4..0.dll", false, 0, 0, 0},
      {"wing-.2.0.dll", false, 0, 0, 0},
      {"wing-4.2.0-rc.dll", false, 0, 0, 0},
      {"wing-a.b.c.dll", false, 0, 0, 0},
      {"wing-.dll", false, 0, 0, 0},
      {"wing-", false, 0, 0, 0},
      {"x32-1.0.0.dll", false, 0, 0, 0},  // another type
      {"wingx-1.0.0.dll", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ModuleVersion v;
    ASSERT_EQ(parse_module_file_name(c.name, "wing", v), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(v.major, c.major) << c.name;
      EXPECT_EQ(v.minor, c.minor) << c.name;
      EXPECT_EQ(v.patch, c.patch) << c.name;
    }
  }
  // Every accepted name's version text is its numbers, whole.
  ModuleVersion v;
  ASSERT_TRUE(parse_module_file_name("wing-9999999.9999999.9999999.dll", "wing", v));
  EXPECT_EQ(version_text(v), "9999999.9999999.9999999");
}

// A stand-in modules folder: listing order, which files verify, and a record of the checks.
struct Folder {
  std::vector<std::string> names;
  std::map<std::string, bool> signature_ok;  // by file name; absent: fails
  std::vector<std::string> verified, logged;
  RejectedFiles rejected;

  bool find(FoundModule& out) {
    verified.clear();
    logged.clear();
    return find_newest_module(
        names, "C:\\LV1\\modules", "wing", rejected,
        [&](const std::string& path) {
          std::string name = path.substr(path.rfind('\\') + 1);
          verified.push_back(name);
          auto it = signature_ok.find(name);
          return it != signature_ok.end() && it->second;
        },
        [&](const std::string& line) { logged.push_back(line); }, out);
  }
};

TEST(FindNewestModule, NumericCompareAndOnlyNewerFilesAreChecked) {
  Folder f;
  f.names = {"wing-4.10.0.dll", "wing-4.2.0.dll", "wing-4.9.9.dll", "x32-9.0.0.dll",
             "wing-4.10.0.dll.sig"};
  f.signature_ok = {{"wing-4.10.0.dll", true}, {"wing-4.2.0.dll", true}, {"wing-4.9.9.dll", true}};
  FoundModule m;
  ASSERT_TRUE(f.find(m));
  EXPECT_EQ(m.path, "C:\\LV1\\modules\\wing-4.10.0.dll");
  EXPECT_EQ(m.version, "4.10.0");
  // 4.2.0 and 4.9.9 come after 4.10.0 and are not newer: neither checked nor logged.
  EXPECT_EQ(f.verified, std::vector<std::string>{"wing-4.10.0.dll"});
  EXPECT_TRUE(f.logged.empty());
}

TEST(FindNewestModule, BadSignatureIsLoggedAndTheNextNewestWins) {
  Folder f;
  f.names = {"wing-4.2.0.dll", "wing-4.3.0.dll", "wing-4.1.0.dll"};
  f.signature_ok = {{"wing-4.2.0.dll", true}, {"wing-4.1.0.dll", true}};
  FoundModule m;
  ASSERT_TRUE(f.find(m));
  EXPECT_EQ(m.version, "4.2.0");
  EXPECT_EQ(f.logged, std::vector<std::string>{
                          "[loader] wing-4.3.0.dll is not signed by Kestrune - skipped"});
}

TEST(FindNewestModule, RejectedFilesAreSkippedWithoutCaseAndWithoutAcheck) {
  Folder f;
  f.names = {"wing-4.2.0.dll", "wing-4.3.0.dll"};
  f.signature_ok = {{"wing-4.2.0.dll", true}, {"wing-4.3.0.dll", true}};
  f.rejected.add("c:\\lv1\\MODULES\\WING-4.3.0.DLL");
  FoundModule m;
  ASSERT_TRUE(f.find(m));
  EXPECT_EQ(m.version, "4.2.0");
  EXPECT_EQ(f.verified, std::vector<std::string>{"wing-4.2.0.dll"});
}

TEST(FindNewestModule, EqualVersionsFirstListedWinsAndNothingUsableGivesFalse) {
  Folder f;
  f.names = {"wing-beta-1.0.0.dll", "wing-1.0.0.dll"};
  f.signature_ok = {{"wing-beta-1.0.0.dll", true}, {"wing-1.0.0.dll", true}};
  FoundModule m;
  ASSERT_TRUE(f.find(m));
  EXPECT_EQ(m.path, "C:\\LV1\\modules\\wing-beta-1.0.0.dll");

  Folder none;
  none.names = {"wing-1.0.0.dll", "wing-2.dll", "readme.txt"};
  EXPECT_FALSE(none.find(m));
  EXPECT_EQ(none.logged.size(), 1u);
}

TEST(ModuleAction, Decisions) {
  using A = ModuleAction;
  EXPECT_EQ(decide_module_action(true, false, "a.dll", ""), A::load);
  EXPECT_EQ(decide_module_action(true, true, "C:\\M\\A.DLL", "c:\\m\\a.dll"), A::keep);
  EXPECT_EQ(decide_module_action(true, true, "b.dll", "a.dll"), A::replace);
  EXPECT_EQ(decide_module_action(false, true, "", "a.dll"), A::switch_off);
  EXPECT_EQ(decide_module_action(false, false, "", ""), A::keep);
}

TEST(LoadFailure, LogLineAndFileName) {
  std::string line = load_failure_log_line("C:\\m\\wing-4.3.0.dll", 4551, nullptr, true);
  EXPECT_EQ(
      line.rfind(
          "[loader] C:\\m\\wing-4.3.0.dll would not load (error 4551 = Smart App Control blocked it, entry ",
          0),
      0u)
      << line;
  EXPECT_NE(line.find(") - keeping the running module"), std::string::npos) << line;
  line = load_failure_log_line("w.dll", 1114, nullptr, false);
  EXPECT_EQ(line.find("Smart App"), std::string::npos);
  EXPECT_NE(line.find("(error 1114, entry "), std::string::npos) << line;
  EXPECT_NE(line.find(" - keeping none"), std::string::npos) << line;

  EXPECT_EQ(failed_file_name("C:\\a\\b\\wing-1.0.0.dll"), "wing-1.0.0.dll");
  EXPECT_EQ(failed_file_name("plain.dll"), "plain.dll");
  std::string long_name(70, 'n');
  EXPECT_EQ(failed_file_name("C:\\" + long_name), std::string(63, 'n'));
  // 62 ASCII bytes then a 2-byte character that would straddle the cut: it is dropped whole.
  EXPECT_EQ(failed_file_name(std::string(62, 'a') + "\xc3\xa9" + "z.dll"), std::string(62, 'a'));
}

TEST(Identify, RequestsDeadlinesAndWait) {
  IdentifyState s;
  // Nothing asked: no call, no wait.
  IdentifyStep st = identify_step(s, 0, 0, 1000);
  EXPECT_FALSE(st.call);
  EXPECT_EQ(identify_wait_ms(&s, 1, 1000, 0xFFFFFFFF), 0xFFFFFFFFu);

  // Two requests between passes (counter 0 -> 2) are served once, with the last on value.
  st = identify_step(s, 2, 1, 1000);
  EXPECT_TRUE(st.call && st.on && !st.clear_on_word);
  identify_done(s, true, true, 1000);
  EXPECT_FALSE(identify_step(s, 2, 1, 1500).call);
  EXPECT_EQ(identify_wait_ms(&s, 1, 1500, 0xFFFFFFFF), 19500u);

  // At the deadline the LED goes off and the on word is cleared.
  st = identify_step(s, 2, 1, 21000);
  EXPECT_TRUE(st.call && !st.on && st.clear_on_word);
  identify_done(s, false, true, 21000);
  EXPECT_EQ(s.deadline_ms, 0u);

  // A failed "on" (no live card, or LV1 faulted) leaves no deadline.
  identify_step(s, 3, 1, 30000);
  identify_done(s, true, false, 30000);
  EXPECT_EQ(s.deadline_ms, 0u);

  // The nearest of both types' deadlines gives the wait.
  IdentifyState two[2];
  two[0].deadline_ms = 50000;
  two[1].deadline_ms = 41000;
  EXPECT_EQ(identify_wait_ms(two, 2, 40000, 0xFFFFFFFF), 1000u);
  EXPECT_EQ(identify_wait_ms(two, 2, 60000, 0xFFFFFFFF), 0u);
}

}  // namespace
}  // namespace ks
