// The settings file: parsing every key, writing it back, editing one key, the live reloads and
// the 48 V protect list.
#include "bridge/config.h"

#include <gtest/gtest.h>

#include <cstring>

#include "bridge/settings.h"
#include "bridge/tests/support/framework_fixture.h"
#include "bridge/timebase.h"
#include "os/file.h"
#include "os/tests/support/manual_clock.h"

namespace ks {
namespace {

ConsoleConfig parse(const std::string& text, std::vector<std::string>* log = nullptr) {
  ConsoleConfig c;
  config_defaults(c);
  config_parse(text, c, [&](const char* line) {
    if (log) log->push_back(line);
  });
  return c;
}

TEST(ConfigParse, DefaultsWhenEmpty) {
  ConsoleConfig c = parse("");
  EXPECT_STREQ(c.bank, "LCL");
  EXPECT_EQ(c.base, 1);
  EXPECT_EQ(c.watch, 64);
  EXPECT_TRUE(c.notify);
  EXPECT_STREQ(c.card, "MOD");
  EXPECT_TRUE(c.resync_lv1);
  EXPECT_FALSE(c.diag);
  EXPECT_STREQ(c.ip, "");
  EXPECT_STREQ(c.hint, "");
  EXPECT_STREQ(c.console, "");
  EXPECT_TRUE(c.session_recall);
  EXPECT_EQ(c.protect_count, 0);
}

#define LONG62 "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"

struct KeyCase {
  const char* line;
  const char* field;
  std::string expect;
};

std::string field(const ConsoleConfig& c, const std::string& f) {
  if (f == "bank") return c.bank;
  if (f == "base") return std::to_string(c.base);
  if (f == "watch") return std::to_string(c.watch);
  if (f == "notify") return c.notify ? "1" : "0";
  if (f == "card") return c.card;
  if (f == "resync") return c.resync_lv1 ? "lv1" : "desk";
  if (f == "diag") return c.diag ? "2" : "1";
  if (f == "ip") return c.ip;
  if (f == "hint") return c.hint;
  if (f == "console") return c.console;
  if (f == "session_recall") return c.session_recall ? "on" : "off";
  return "?";
}

TEST(ConfigParse, EveryKeyAndItsReadRule) {
  const KeyCase cases[] = {
      {"bank=A", "bank", "A"},
      {"BANK=b", "bank", "b"},
      {"bank=TOOLONGNAME", "bank", "TOOLONG"},
      {"bank=AUX ; comment", "bank", "AUX "},
      {" bank=A", "bank", "LCL"},  // the key is not trimmed: an unknown key
      {"base=9", "base", "9"},
      {"base=abc", "base", "0"},
      {"base=-3", "base", "-3"},
      {"base=99999999999999", "base", "2147483647"},
      {"watch=0", "watch", "1"},
      {"watch=500", "watch", "64"},
      {"watch=12", "watch", "12"},
      {"watch=x", "watch", "1"},
      {"notify=0", "notify", "0"},
      {"notify=2", "notify", "1"},
      {"card=CRD", "card", "CRD"},
      {"resync=Desk", "resync", "desk"},
      {"resync=DESK ; the desk wins", "resync", "desk"},
      {"resync=", "resync", "lv1"},
      {"resync=desktop", "resync", "lv1"},
      {"diag=1", "diag", "2"},
      {"diag=0", "diag", "1"},
      {"ip=  10.0.0.5\t ; desk", "ip", "10.0.0.5"},
      {"hint=\t192.168.1.20  ", "hint", "192.168.1.20"},
      // Trimmed after the cut to the field as well: a cut value never ends in a blank.
      {"ip= " LONG62 " b", "ip", LONG62},
      {"hint=" LONG62 " \t", "hint", LONG62},
      {"console=S1234 ; the FOH desk", "console", "S1234"},
      {"console=\tname:FOH desk  ", "console", "name:FOH desk"},
      {"session_recall=OFF ; not now", "session_recall", "off"},
      {"session_recall=off", "session_recall", "off"},
      {"session_recall=no", "session_recall", "on"},
      {"session_recall=on", "session_recall", "on"},
      {"unknown=5", "bank", "LCL"},
      {"no equals sign here", "bank", "LCL"},
      {"bank=A\r", "bank", "A"},
  };
  for (const KeyCase& k : cases) {
    ConsoleConfig c = parse(k.line);
    EXPECT_EQ(field(c, k.field), k.expect) << k.line;
  }
}

TEST(ConfigParse, CommentsAndLaterLinesWin) {
  ConsoleConfig c = parse("; bank=C\nbank=A\nwatch=8;16\nbank=B\n");
  EXPECT_STREQ(c.bank, "B");
  EXPECT_EQ(c.watch, 8);
}

TEST(ConfigParse, OverLongLineIsCutAndItsRestNeverReadAsALine) {
  // The rest of an over-long comment line must not turn into a setting of its own.
  std::string line = ";" + std::string(300, 'x') + "protect=LCL:1 bank=C";
  std::vector<std::string> log;
  ConsoleConfig c = parse(line + "\nwatch=4\n", &log);
  EXPECT_EQ(c.protect_count, 0);
  EXPECT_STREQ(c.bank, "LCL");
  EXPECT_EQ(c.watch, 4);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("longer than 255"), std::string::npos);

  // A value that begins before the cut keeps what fits.
  ConsoleConfig d = parse("console=" + std::string(400, 'k'));
  EXPECT_EQ(std::strlen(d.console), 39u);
}

TEST(ConfigParse, ALineEndsAtANulByte) {
  // One entry must not take two slots (the duplicate check and the stored bank must see the
  // same text), and no value may keep the blank in front of a NUL.
  std::vector<std::string> log;
  const char text[] = "protect=A:1,A\0B:1\nip=10.0.0.5 \0x\nhint=1.2.3.4\0\nbank=C\n";
  ConsoleConfig c = parse(std::string(text, sizeof text - 1), &log);
  ASSERT_EQ(c.protect_count, 1);
  EXPECT_STREQ(c.protect[0].bank, "A");
  EXPECT_STREQ(c.ip, "10.0.0.5");
  EXPECT_STREQ(c.hint, "1.2.3.4");
  EXPECT_STREQ(c.bank, "C") << "the next line is read as usual";
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "[cfg] line 1 holds a NUL byte - the rest of it is ignored");
}

// 32 entries of the longest form the reader accepts.
ConsoleConfig longest_protect_list() {
  ConsoleConfig c;
  config_defaults(c);
  for (int i = 0; i < kProtectMax; ++i) {
    std::snprintf(c.protect[i].bank, sizeof c.protect[i].bank, "AES50%c%c", 'A' + i % 8,
                  'A' + i / 8);
    c.protect[i].input = uint32_t(65535 - i);
  }
  c.protect_count = kProtectMax;
  return c;
}

TEST(ConfigParse, TheLongestProtectListWrittenIsTheListRead) {
  ConsoleConfig c = longest_protect_list();
  std::string text = config_format(c);
  std::vector<std::string> log;
  ConsoleConfig back = parse(text, &log);
  EXPECT_TRUE(log.empty()) << log[0];
  ASSERT_EQ(back.protect_count, kProtectMax);
  for (int i = 0; i < kProtectMax; ++i) {
    EXPECT_STREQ(back.protect[i].bank, c.protect[i].bank) << i;
    EXPECT_EQ(back.protect[i].input, c.protect[i].input) << i;
  }
  // Written with ", " between entries by hand, it still fits.
  std::string spaced = "protect=";
  for (int i = 0; i < kProtectMax; ++i)
    spaced += std::string(c.protect[i].bank) + ":" + std::to_string(c.protect[i].input) + ", ";
  EXPECT_EQ(parse(spaced).protect_count, kProtectMax);
}

TEST(ConfigParse, AProtectEntryTheCutGoesThroughIsDroppedNotReadAsAnotherInput) {
  struct Case {
    size_t pad;         // blanks after "A:1,"
    const char* entry;  // the entry at the cut
    bool kept;
  };
  // "protect=A:1," is 12 characters: the entry starts at 12 + pad.
  const size_t start = kConfigProtectLineMax - 12;
  const Case cases[] = {
      {start - 8, "AES50A:44", false},  // the cut falls between its two 4s
      {start - 9, "AES50A:44", true},   // ends right at the cut, a blank after it
      {start + 2, "AES50A:44", false},  // wholly past the cut: never seen at all
  };
  for (const Case& k : cases) {
    std::string line = "protect=A:1," + std::string(k.pad, ' ') + k.entry + " ; ribbon mic";
    std::vector<std::string> log;
    ConsoleConfig c = parse(line, &log);
    ASSERT_GE(c.protect_count, 1) << k.pad;
    EXPECT_STREQ(c.protect[0].bank, "A");
    ASSERT_EQ(c.protect_count, k.kept ? 2 : 1) << k.pad;
    if (k.kept) {
      EXPECT_EQ(c.protect[1].input, 44u);
    }
    bool said = false;
    for (const std::string& l : log) said |= l.find("cut off") != std::string::npos;
    EXPECT_EQ(said, k.pad == start - 8) << k.pad;
  }
}

TEST(ConfigParse, ProtectListEntries) {
  std::vector<std::string> log;
  ConsoleConfig c =
      parse("protect=LCL:3, A:12 B,:4,C:0,C:-2,SC:x,lcl:3,AVERYLONGBANK:2,A:70000", &log);
  ASSERT_EQ(c.protect_count, 2);
  EXPECT_STREQ(c.protect[0].bank, "LCL");
  EXPECT_EQ(c.protect[0].input, 3u);
  EXPECT_STREQ(c.protect[1].bank, "A");
  EXPECT_EQ(c.protect[1].input, 12u);
  // The two that name an input the module cannot represent say so; the rest are silently skipped.
  EXPECT_EQ(log.size(), 2u);

  // A bank the file could not give back as it is, or with control characters, is no desk input.
  log.clear();
  c = parse("protect=A\x01:3,B\x7f:4,C:5", &log);
  ASSERT_EQ(c.protect_count, 1);
  EXPECT_STREQ(c.protect[0].bank, "C");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "[48V] protect entry A?:3 is not a desk input - ignored")
      << "no control character reaches the log";
}

TEST(ConfigParse, ProtectListIsReplacedByALaterLine) {
  ConsoleConfig c = parse("protect=A:1,A:2\nprotect=B:5\n");
  ASSERT_EQ(c.protect_count, 1);
  EXPECT_STREQ(c.protect[0].bank, "B");
}

TEST(ConfigParse, ProtectListCapIs32AndEachDroppedEntryIsLogged) {
  std::string v = "protect=";
  for (int i = 1; i <= 35; ++i) v += "A:" + std::to_string(i) + ",";
  std::vector<std::string> log;
  ConsoleConfig c = parse(v, &log);
  EXPECT_EQ(c.protect_count, 32);
  EXPECT_EQ(c.protect[31].input, 32u);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "[48V] protect list is full (32) - A 33 NOT protected");
}

TEST(ConfigFormat, RoundTripOfEveryKey) {
  ConsoleConfig c;
  config_defaults(c);
  std::strcpy(c.bank, "A");
  c.base = 9;
  c.watch = 16;
  c.notify = false;
  std::strcpy(c.card, "CRD");
  c.resync_lv1 = false;
  c.diag = true;
  std::strcpy(c.ip, "10.0.0.5");
  std::strcpy(c.hint, "10.0.0.6");
  std::strcpy(c.console, "S1234");
  c.session_recall = false;
  c.protect_count = 2;
  std::strcpy(c.protect[0].bank, "LCL");
  c.protect[0].input = 3;
  std::strcpy(c.protect[1].bank, "A");
  c.protect[1].input = 12;
  std::string text = config_format(c);
  EXPECT_EQ(
      text,
      "; written by Kestrune - edit while LV1 is closed\nbank=A\nbase=9\nwatch=16\nnotify=0\ncard=CRD\n"
      "resync=desk\nprotect=LCL:3,A:12\ndiag=1\nip=10.0.0.5\nhint=10.0.0.6\nconsole=S1234\n"
      "session_recall=off\n");
  ConsoleConfig back = parse(text);
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
}

TEST(ConfigFormat, OptionalKeysLeftOut) {
  ConsoleConfig c;
  config_defaults(c);
  EXPECT_EQ(
      config_format(c),
      "; written by Kestrune - edit while LV1 is closed\nbank=LCL\nbase=1\nwatch=64\nnotify=1\ncard=MOD\n"
      "resync=lv1\nsession_recall=on\n");
}

TEST(ConfigEditKey, Cases) {
  struct Case {
    const char* before;
    const char* key;
    const char* value;
    KeyEdit result;
    const char* after;
  };
  const Case cases[] = {
      {"bank=A\nhint=1.1.1.1\nwatch=4\nHINT=2.2.2.2\n", "hint", "3.3.3.3", KeyEdit::edited,
       "bank=A\nhint=3.3.3.3\nwatch=4\n"},
      {"bank=A\nhint=3.3.3.3\n", "hint", "3.3.3.3", KeyEdit::unchanged, "bank=A\nhint=3.3.3.3\n"},
      {"bank=A", "hint", "3.3.3.3", KeyEdit::edited, "bank=A\nhint=3.3.3.3\n"},
      {"", "hint", "3.3.3.3", KeyEdit::edited, "hint=3.3.3.3\n"},
      {"hinter=x\n", "hint", "1", KeyEdit::edited, "hinter=x\nhint=1\n"},
      {"a=1\n", "", "1", KeyEdit::bad_key, "a=1\n"},
      // The first key line already holds the value, but readers take the last one.
      {"hint=3.3.3.3\nbank=A\nhint=9.9.9.9\n", "hint", "3.3.3.3", KeyEdit::edited,
       "hint=3.3.3.3\nbank=A\n"},
      {"HINT=3.3.3.3\n", "hint", "3.3.3.3", KeyEdit::edited, "hint=3.3.3.3\n"},
      {"hint=3.3.3.3\r\n", "hint", "3.3.3.3", KeyEdit::edited, "hint=3.3.3.3\n"},
      // A value or key that would make more than one line.
      {"a=1\n", "hint", "1\nprotect=", KeyEdit::bad_key, "a=1\n"},
      {"a=1\n", "hi=nt", "1", KeyEdit::bad_key, "a=1\n"},
  };
  for (const Case& c : cases) {
    std::string text = c.before;
    EXPECT_EQ(config_edit_key(text, c.key, c.value), c.result) << c.before;
    EXPECT_EQ(text, c.after) << c.before;
  }
  std::string big(20000, ';');
  std::string copy = big;
  EXPECT_EQ(config_edit_key(copy, "hint", "1"), KeyEdit::too_large);
  EXPECT_EQ(copy, big);
  std::string t = "a=1\n";
  EXPECT_EQ(config_edit_key(t, "hint", std::string(200, '1')), KeyEdit::bad_key);
}

// ---- the module's settings file ----

class ConfigFile : public FrameworkTest {
protected:
  std::string path() { return path_join(dir, "wing.cfg"); }
};

TEST_F(ConfigFile, LoadLogsAndAppliesTheFile) {
  write_text(path(), "bank=A\nbase=9\nwatch=8\nprotect=LCL:3, A:12 B\ndiag=1\nip= 10.0.0.9 \n");
  config_load(path());
  EXPECT_TRUE(host().logged("[cfg] using " + path()));
  EXPECT_TRUE(host().logged("[48V] protected inputs (48V will never be switched on): LCL 3, A 12"));
  EXPECT_STREQ(settings().bank.get(), "A");
  EXPECT_EQ(settings().base.load(), 9);
  EXPECT_EQ(watch_count(), 8);
  EXPECT_TRUE(settings().diag.load());
  char ip[64];
  config_ip(ip);
  EXPECT_STREQ(ip, "10.0.0.9");
  EXPECT_TRUE(protect_list_contains("lcl", 3));
  EXPECT_TRUE(protect_list_contains("A", 12));
  EXPECT_FALSE(protect_list_contains("B", 0));
}

TEST_F(ConfigFile, MissingFileKeepsDefaults) {
  config_load(path());
  EXPECT_TRUE(host().logged("[cfg] no " + path() + " - using defaults"));
  EXPECT_STREQ(settings().bank.get(), "LCL");
  EXPECT_EQ(watch_count(), 64);
}

TEST_F(ConfigFile, SaveKeepsWhatTheTrayWroteSinceTheLoad) {
  write_text(path(), "bank=A\nip=10.0.0.1\nconsole=S1\n");
  config_load(path());
  // The tray edits the file while the module runs; then the module saves its own change.
  write_text(path(),
             "bank=A\nip=10.0.0.2\nconsole=S2\nhint=10.0.0.3\nsession_recall=off\ndiag=1\n");
  settings().watch.store(12);
  ASSERT_TRUE(config_save());
  ConsoleConfig c = parse(read_text(path()));
  EXPECT_EQ(c.watch, 12);
  EXPECT_STREQ(c.ip, "10.0.0.2");
  EXPECT_STREQ(c.console, "S2");
  EXPECT_STREQ(c.hint, "10.0.0.3");
  EXPECT_FALSE(c.session_recall);
  EXPECT_TRUE(c.diag);
  EXPECT_TRUE(host().logged("[cfg] saved " + path()));
}

TEST_F(ConfigFile, SaveIntoAFolderThatIsGoneFailsAndSaysSo) {
  std::string p = path_join(path_join(dir, "gone"), "wing.cfg");
  config_load(p);
  EXPECT_FALSE(config_save());
  EXPECT_TRUE(host().logged("[cfg] could not write " + p));
}

TEST_F(ConfigFile, SetKeyEditsInPlaceAndSkipsAnUnchangedValue) {
  write_text(path(), "; mine\nbank=A\nhint=1.1.1.1\n");
  config_load(path());
  ASSERT_TRUE(config_set_key("hint", "2.2.2.2"));
  EXPECT_EQ(read_text(path()), "; mine\nbank=A\nhint=2.2.2.2\n");
  EXPECT_TRUE(host().logged("[cfg] hint=2.2.2.2 saved"));
  char hint[64];
  config_hint(hint);
  EXPECT_STREQ(hint, "2.2.2.2");

  host().clear();
  uint64_t before = last_write_time(path());
  ASSERT_TRUE(config_set_key("hint", "2.2.2.2"));
  EXPECT_FALSE(host().logged("saved"));
  EXPECT_EQ(last_write_time(path()), before);

  // A value that would add a line of its own is refused, the file untouched.
  EXPECT_FALSE(config_set_key("hint", "1.2.3.4\nprotect="));
  EXPECT_TRUE(host().logged(
      "[cfg] hint=1.2.3.4?protect= would not be one line of the settings file - not saved"));
  EXPECT_EQ(read_text(path()), "; mine\nbank=A\nhint=2.2.2.2\n");
}

TEST_F(ConfigFile, SetKeyRefusesAFileTooLargeAndLeavesItUntouched) {
  std::string big = "bank=A\n" + std::string(20000, ';') + "\n";
  write_text(path(), big);
  config_load(path());
  EXPECT_FALSE(config_set_key("hint", "2.2.2.2"));
  EXPECT_TRUE(host().logged("is too large to edit - hint not saved"));
  EXPECT_EQ(read_text(path()), big);
  EXPECT_FALSE(config_set_key("", "x"));
  EXPECT_FALSE(config_set_key("hint", nullptr));
}

TEST_F(ConfigFile, ReloadLiveFollowsDiagAndSessionRecallAtMostEvery3s) {
  ManualClock clock(1000, ManualClock::Mode::automatic);
  set_bridge_clock(&clock);
  write_text(path(), "diag=0\n");
  config_load(path());
  config_reload_live();  // the first look only remembers the file's time
  write_text(path(), "diag=0\nsession_recall=off\ndiag=0\n");
  // Make sure the file's time moved even on a coarse file system clock. The key is read without
  // case, as the load reads it.
  write_file_replace(path(), "diag=0\nSession_Recall=off\ndiag=0\nDIAG=1 ; detail\n");
  config_reload_live();  // less than 3000 ms later: not looked at
  EXPECT_FALSE(settings().diag.load());
  clock.advance(3000);
  uint64_t t = last_write_time(path());
  if (t == 0) GTEST_SKIP() << "no file times here";
  config_reload_live();
  EXPECT_TRUE(settings().diag.load()) << "the last diag line wins, whatever its case";
  EXPECT_FALSE(settings().session_recall.load());
  EXPECT_TRUE(host().logged("[cfg] detailed logging ON (changed in kestrune settings)"));
}

TEST_F(ConfigFile, ReloadAddressReportsWhatChanged) {
  write_text(path(), "ip=10.0.0.1\nconsole=S1\n");
  config_load(path());
  write_text(path(), "IP=  10.0.0.7 ; new\nconsole=S9 ; the FOH desk\n");
  AddressReload r = config_reload_address();
  EXPECT_TRUE(r.ip_changed);
  EXPECT_TRUE(r.console_changed);
  EXPECT_TRUE(host().logged("[cfg] ip= 10.0.0.7"));
  EXPECT_TRUE(host().logged("[cfg] console= S9"));
  char console[40];
  config_console(console);
  EXPECT_STREQ(console, "S9");
  write_text(path(), "console=S9\n");
  r = config_reload_address();
  EXPECT_FALSE(r.ip_changed);  // a file without ip= keeps what is known
  EXPECT_FALSE(r.console_changed);
}

TEST_F(ConfigFile, AReloadReadsWhatTheLoadRead) {
  // Loaded and then re-read unchanged, the file reports no change and keeps every value.
  write_text(path(),
             "ip=\t10.0.0.1 ; FOH\nconsole=S1234 ; the FOH desk\nDiag=1\nSESSION_RECALL=off\n");
  config_load(path());
  char console[40];
  config_console(console);
  EXPECT_STREQ(console, "S1234");
  AddressReload r = config_reload_address();
  EXPECT_FALSE(r.ip_changed);
  EXPECT_FALSE(r.console_changed);
  EXPECT_FALSE(host().logged("[cfg] console="));
  EXPECT_TRUE(settings().diag.load());
  EXPECT_FALSE(settings().session_recall.load());
}

TEST_F(ConfigFile, ProtectListChangesAreSavedAndCapped) {
  write_text(path(), "bank=A\n");
  config_load(path());
  for (uint32_t i = 1; i <= 32; ++i) ASSERT_TRUE(protect_list_set("A", i, true));
  EXPECT_TRUE(protect_list_set("a", 5, true)) << "already listed";
  EXPECT_FALSE(protect_list_set("B", 1, true));
  EXPECT_TRUE(host().logged("[48V] protect list is full (32) - B 1 NOT protected"));
  EXPECT_EQ(protect_list_count(), 32);

  ASSERT_TRUE(protect_list_set("A", 1, false));
  EXPECT_TRUE(
      host().logged("[48V] A 1 is no longer protected - 48V can be switched on here again"));
  EXPECT_EQ(protect_list_count(), 31);
  char bank[8];
  uint32_t input = 0;
  ASSERT_TRUE(protect_list_get(0, bank, sizeof bank, &input));
  EXPECT_EQ(input, 32u) << "the last entry moves into the gap";
  EXPECT_FALSE(protect_list_get(31, bank, sizeof bank, &input));
  EXPECT_FALSE(protect_list_get(-1, bank, sizeof bank, &input));
  EXPECT_TRUE(protect_list_set("A", 99, false)) << "removing what is not listed is fine";

  ConsoleConfig c = parse(read_text(path()));
  EXPECT_EQ(c.protect_count, 31);
  EXPECT_FALSE(protect_list_set("", 3, true));
  EXPECT_FALSE(protect_list_set("A", 0, true));
  // A bank the file would give back as other inputs is refused rather than saved.
  EXPECT_FALSE(protect_list_set("A,B", 3, true));
  EXPECT_FALSE(protect_list_set("A B", 3, true));
  EXPECT_FALSE(protect_list_set("A;", 3, true));
  EXPECT_TRUE(host().logged("[48V] A,B 3 is not a desk input - NOT protected"));
  EXPECT_FALSE(protect_list_set("A\nB", 3, true));
  EXPECT_TRUE(host().logged("[48V] A?B 3 is not a desk input - NOT protected"));
}

TEST_F(ConfigFile, TheLongestProtectListSurvivesASaveAndARestart) {
  write_text(path(), "bank=A\n");
  config_load(path());
  ConsoleConfig c = longest_protect_list();
  for (int i = 0; i < kProtectMax; ++i)
    ASSERT_TRUE(protect_list_set(c.protect[i].bank, c.protect[i].input, true));
  config_load(path());
  ASSERT_EQ(protect_list_count(), kProtectMax);
  for (int i = 0; i < kProtectMax; ++i)
    EXPECT_TRUE(protect_list_contains(c.protect[i].bank, c.protect[i].input)) << c.protect[i].bank;
  EXPECT_FALSE(host().logged("longer than"));
}

}  // namespace
}  // namespace ks
