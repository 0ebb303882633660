// Single-key edits of the settings files, their reading, the template and diag; every written
// file is read back with the console module's own reader as well.
#include "tray/services/settings_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "bridge/config.h"
#include "os/file.h"
#include "tray/services/tests/support/files.h"

namespace ks::tray {
namespace {

using testing::put;
using testing::slurp;
using testing::TempFolder;

ConsoleConfig module_reads(const std::string& text) {
  ConsoleConfig c;
  config_defaults(c);
  config_parse(text, c, nullptr);
  return c;
}

// A literal with its NUL bytes.
template <size_t N>
std::string bytes(const char (&a)[N]) {
  return std::string(a, N - 1);
}

// ---- the edit itself ----------------------------------------------------------------------

struct EditCase {
  const char* what;
  std::string before, key, value;
  CfgEdit result;
  std::string after;  // for unchanged and refusals: the text as it was
};

TEST(CfgEdit, CaseTable) {
  const std::string long_plain =
      std::string(511, 'x') + "diag=0";  // "diag=0" past a 511-byte piece
  const std::string long_key = "hint=" + std::string(600, 'h');
  const EditCase cases[] = {
      {"replaced in its place", "a=1\ndiag=0\nb=2\n", "diag", "1", CfgEdit::edited,
       "a=1\ndiag=1\nb=2\n"},
      {"appended when absent", "a=1\n", "diag", "1", CfgEdit::edited, "a=1\ndiag=1\n"},
      {"last line without LF keeps its line", "a=1", "diag", "1", CfgEdit::edited, "a=1\ndiag=1\n"},
      {"empty text", "", "diag", "1", CfgEdit::edited, "diag=1\n"},
      {"both duplicates replaced", "diag=0\nx=1\ndiag=0\n", "diag", "1", CfgEdit::edited,
       "diag=1\nx=1\ndiag=1\n"},
      {"first equal, last different: the last one is what readers take", "diag=1\nx\ndiag=0\n",
       "diag", "1", CfgEdit::edited, "diag=1\nx\ndiag=1\n"},
      {"already there (LF)", "a=1\ndiag=1\n", "diag", "1", CfgEdit::unchanged, "a=1\ndiag=1\n"},
      {"already there (CR LF): file left as it is", "a=1\r\ndiag=1\r\n", "diag", "1",
       CfgEdit::unchanged, "a=1\r\ndiag=1\r\n"},
      {"already there twice", "diag=1\ndiag=1\n", "diag", "1", CfgEdit::unchanged,
       "diag=1\ndiag=1\n"},
      {"equal but without its line end", "diag=1", "diag", "1", CfgEdit::edited, "diag=1\n"},
      {"CR LF lines read as LF", "; c\r\nip=1.2.3.4\r\ndiag=0\r\n", "diag", "1", CfgEdit::edited,
       "; c\nip=1.2.3.4\ndiag=1\n"},
      {"a lone CR is data", "a=1\rdiag=0\n", "diag", "1", CfgEdit::edited, "a=1\rdiag=0\ndiag=1\n"},
      {"0x1A does not end the file", "a=1\n\x1a\nresync=desk\n", "diag", "1", CfgEdit::edited,
       "a=1\n\x1a\nresync=desk\ndiag=1\n"},
      {"a key in other case is the same key", "DIAG=0\nDiag=1\n", "diag", "1", CfgEdit::edited,
       "diag=1\ndiag=1\n"},
      {"a blank before '=' or a longer key is another key", " diag=0\ndiag =0\ndiagx=0\n", "diag",
       "1", CfgEdit::edited, " diag=0\ndiag =0\ndiagx=0\ndiag=1\n"},
      {"a comment on the key line goes with it", "ip=1.2.3.4 ; old\n", "ip", "10.0.0.5",
       CfgEdit::edited, "ip=10.0.0.5\n"},
      {"a long line is one line, whatever it holds further on", long_plain + "\n", "diag", "1",
       CfgEdit::edited, long_plain + "\ndiag=1\n"},
      {"a long key line is replaced whole", "a=1\n" + long_key + "\nb=2\n", "hint", "10.0.0.7",
       CfgEdit::edited, "a=1\nhint=10.0.0.7\nb=2\n"},
      {"empty value", "console=abc\n", "console", "", CfgEdit::edited, "console=\n"},
      {"state.cfg as installed", "wing=on\r\nx32=on\r\n", "x32", "off", CfgEdit::edited,
       "wing=on\nx32=off\n"},
      {"empty key", "a=1\n", "", "1", CfgEdit::bad_key, "a=1\n"},
      {"key with a blank", "a=1\n", "di ag", "1", CfgEdit::bad_key, "a=1\n"},
      {"key with '='", "a=1\n", "a=b", "1", CfgEdit::bad_key, "a=1\n"},
      {"key with ';'", "a=1\n", "a;b", "1", CfgEdit::bad_key, "a=1\n"},
      {"value with LF would add a line", "a=1\n", "ip", "1\nprotect=", CfgEdit::bad_value, "a=1\n"},
      {"value with CR", "a=1\n", "ip", "1\r", CfgEdit::bad_value, "a=1\n"},
      {"value with ';' would not read back", "a=1\n", "ip", "1;2", CfgEdit::bad_value, "a=1\n"},
      {"value with NUL", "a=1\n", "ip",
       bytes("1\0"
             "2"),
       CfgEdit::bad_value, "a=1\n"},
      {"line over what the readers take", "a=1\n", "hint", std::string(251, 'h'),
       CfgEdit::bad_value, "a=1\n"},
      {"UTF-16 text is not ours",
       bytes("d\0i\0a\0g\0=\0"
             "0\0\n\0"),
       "diag", "1", CfgEdit::not_text,
       bytes("d\0i\0a\0g\0=\0"
             "0\0\n\0")},
  };
  for (const auto& c : cases) {
    std::string text = c.before;
    EXPECT_EQ(cfg_edit(text, c.key, c.value), c.result) << c.what;
    EXPECT_EQ(text, c.after) << c.what;
  }
  // The longest line that still fits the readers is taken.
  std::string text;
  EXPECT_EQ(cfg_edit(text, "hint", std::string(250, 'h')), CfgEdit::edited);
  EXPECT_EQ(text.size(), kCfgLineMax + 1);
}

// Random texts built from the bytes that matter (line ends, "=", ";", the key in both cases,
// blanks, 0x1A, bytes above 0x7F, long runs): after an edit the key reads back as written,
// through the tray and through the module, and every other line is the line it was.
std::vector<std::string> lines_without(std::string_view text, std::string_view key) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    bool has_lf = end != std::string_view::npos;
    if (!has_lf) end = text.size();
    std::string line(text.substr(pos, end - pos));
    // CRs before the line end count with it: CR LF reads as LF, and the last line gets its LF on
    // an append.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const bool key_line = line.size() > key.size() && line[key.size()] == '=' && [&] {
      for (size_t i = 0; i < key.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != key[i]) return false;
      return true;
    }();
    if (!key_line) out.push_back(line);
    pos = end + 1;
  }
  return out;
}

TEST(CfgEdit, RandomTextsKeepTheirOtherLines) {
  const std::string pieces[] = {
      "\n",    "\r\n",   "\r",  "=",    ";",        " ",    "hint", "HINT", "Hint=",
      "hint=", "hint =", "ip=", "\x1a", "\xc3\xa9", "\xff", "x",    "1",    std::string(300, 'y')};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int n = int(next() % 24);
    for (int i = 0; i < n; ++i) text += pieces[next() % (sizeof pieces / sizeof pieces[0])];
    const std::string value = round % 3 == 0 ? "" : "10.0." + std::to_string(next() % 256) + ".7";
    std::string edited = text;
    const CfgEdit r = cfg_edit(edited, "hint", value);
    ASSERT_TRUE(r == CfgEdit::edited || r == CfgEdit::unchanged) << int(r);
    EXPECT_EQ(cfg_value(edited, "hint"), value) << "from: " << text;
    EXPECT_STREQ(module_reads(edited).hint, value.c_str()) << "from: " << text;
    EXPECT_EQ(lines_without(edited, "hint"), lines_without(text, "hint")) << "from: " << text;
    if (r == CfgEdit::unchanged) {
      EXPECT_EQ(edited, text);
    }
  }
}

// ---- on files -------------------------------------------------------------------------------

TEST(CfgSet, EditKeepsEveryOtherLineAndTheModuleReadsTheValue) {
  TempFolder dir;
  const std::string path = dir.at("wing.cfg");
  // A hand-edited CR LF file: comments, an unknown key, a protect list, a line longer than any
  // reader takes, a key in capitals, a last line without its line end.
  const std::string before = "; mine\r\nprotect=LCL:3,A:12\r\n\r\nfoo=bar\r\n" +
                             std::string(700, 'z') + "\r\nDIAG=0\r\nwatch=8";
  put(path, before);

  ASSERT_TRUE(cfg_set(path, "diag", "1"));
  ASSERT_TRUE(cfg_set(path, "ip", "192.168.1.20"));
  const std::string after = slurp(path);
  EXPECT_EQ(after, "; mine\nprotect=LCL:3,A:12\n\nfoo=bar\n" + std::string(700, 'z') +
                       "\ndiag=1\nwatch=8\nip=192.168.1.20\n");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"wing.cfg"}) << "no temporary left beside it";

  const ConsoleConfig m = module_reads(after);
  EXPECT_TRUE(m.diag);
  EXPECT_STREQ(m.ip, "192.168.1.20");
  EXPECT_EQ(m.watch, 8);
  ASSERT_EQ(m.protect_count, 2) << "the protect list survives the edit";
  EXPECT_STREQ(m.protect[1].bank, "A");
  EXPECT_EQ(m.protect[1].input, 12u);
  EXPECT_EQ(cfg_get(path, "ip"), "192.168.1.20");
  EXPECT_TRUE(diag_enabled(path));
}

TEST(CfgSet, AValueAlreadyThereLeavesTheFileUntouched) {
  TempFolder dir;
  const std::string path = dir.at("x32.cfg");
  const std::string before = "resync=desk\r\ndiag=1\r\n";
  put(path, before);
  const uint64_t t0 = last_write_time(path);
  EXPECT_TRUE(cfg_set(path, "diag", "1"));
  EXPECT_EQ(slurp(path), before) << "a rewrite would have turned CR LF into LF";
  EXPECT_EQ(last_write_time(path), t0);
}

TEST(CfgSet, MissingFileIsCreatedWithTheOneLine) {
  TempFolder dir;
  EXPECT_TRUE(cfg_set(dir.at("state.cfg"), "wing", "off"));
  EXPECT_EQ(slurp(dir.at("state.cfg")), "wing=off\n");
  EXPECT_FALSE(cfg_set("", "wing", "off"));
  EXPECT_FALSE(cfg_set(dir.at("no-such-folder/state.cfg"), "wing", "off"));
}

TEST(CfgSet, FilesItCannotReadWholeOrThatAreNotTextStayAsTheyWere) {
  TempFolder dir;
  // Over the cap: one more byte than we edit. Replacing it by one line would lose the rest.
  const std::string big = dir.at("big.cfg");
  put(big, "diag=0\n" + std::string(kCfgFileCap - 6, ';'));
  EXPECT_FALSE(cfg_set(big, "diag", "1"));
  EXPECT_EQ(slurp(big).size(), kCfgFileCap + 1);

  // Saved as UTF-16 by an editor.
  const std::string wide = dir.at("wide.cfg");
  const std::string u16 = bytes(
      "\xff\xfe"
      "d\0i\0a\0g\0=\0"
      "0\0\r\0\n\0");
  put(wide, u16);
  EXPECT_FALSE(cfg_set(wide, "diag", "1"));
  EXPECT_EQ(slurp(wide), u16);
  EXPECT_EQ(cfg_get(wide, "diag"), "");

  // Something that is not a file at all.
  ASSERT_TRUE(make_dirs(dir.at("folder.cfg")));
  EXPECT_FALSE(cfg_set(dir.at("folder.cfg"), "diag", "1"));
  EXPECT_TRUE(dir_exists(dir.at("folder.cfg")));

  // Bad keys and values write nothing.
  const std::string ok = dir.at("ok.cfg");
  put(ok, "diag=0\n");
  EXPECT_FALSE(cfg_set(ok, "ip", "1.2.3.4\ndiag=1"));
  EXPECT_FALSE(cfg_set(ok, "", "1"));
  EXPECT_EQ(slurp(ok), "diag=0\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"big.cfg", "folder.cfg", "ok.cfg", "wide.cfg"}));
}

// Every value the tray writes through its callers' keys reads back the same through the tray
// and through the module, starting from the template and from a hand-made file.
TEST(CfgSet, TrayAndModuleReadWhatTheTrayWrote) {
  TempFolder dir;
  const std::string starts[] = {
      std::string(kSettingsTemplate),
      "IP=10.0.0.1\r\nHint=10.0.0.2\nconsole=old\nsession_recall=off\ndiag=1\n"
      "resync=lv1\nsession_recall=on\n"};
  for (const auto& start : starts) {
    const std::string path = dir.at("wing.cfg");
    put(path, start);
    ASSERT_TRUE(cfg_set(path, "ip", "192.168.0.40"));
    ASSERT_TRUE(cfg_set(path, "hint", "192.168.0.41"));
    ASSERT_TRUE(cfg_set(path, "console", "S1234-ab"));
    ASSERT_TRUE(cfg_set(path, "resync", "lv1"));
    ASSERT_TRUE(cfg_set(path, "session_recall", "off"));
    ASSERT_TRUE(cfg_set(path, "diag", "1"));
    const std::string text = slurp(path);
    ConsoleConfig m = module_reads(text);
    EXPECT_STREQ(m.ip, "192.168.0.40") << text;
    EXPECT_STREQ(m.hint, "192.168.0.41");
    EXPECT_STREQ(m.console, "S1234-ab");
    EXPECT_TRUE(m.resync_lv1);
    EXPECT_FALSE(m.session_recall);
    EXPECT_TRUE(m.diag);
    EXPECT_EQ(cfg_get(path, "ip"), "192.168.0.40");
    EXPECT_EQ(cfg_get(path, "hint"), "192.168.0.41");
    EXPECT_EQ(cfg_get(path, "console"), "S1234-ab");
    EXPECT_EQ(cfg_get(path, "resync"), "lv1");
    EXPECT_EQ(cfg_get(path, "session_recall"), "off");
    EXPECT_TRUE(diag_enabled(path));

    ASSERT_TRUE(cfg_set(path, "resync", "desk"));
    ASSERT_TRUE(cfg_set(path, "session_recall", "on"));
    ASSERT_TRUE(cfg_set(path, "diag", "0"));
    m = module_reads(slurp(path));
    EXPECT_FALSE(m.resync_lv1);
    EXPECT_TRUE(m.session_recall);
    EXPECT_FALSE(m.diag);
    EXPECT_FALSE(diag_enabled(path));
  }
}

// ---- reading --------------------------------------------------------------------------------

TEST(CfgGet, CaseTable) {
  struct Case {
    const char* what;
    std::string text, key, value;
  } const cases[] = {
      {"address, blank and comment: the blank is kept", "ip=10.0.0.5 ; the desk\n", "ip",
       "10.0.0.5 "},
      {"the last line wins", "ip=1.1.1.1\nip=2.2.2.2\n", "ip", "2.2.2.2"},
      {"CR ends the value", "ip=3.3.3.3\r\n", "ip", "3.3.3.3"},
      {"a key in other case is the key", "IP=4.4.4.4\n", "ip", "4.4.4.4"},
      {"a blank before '=' is another key", "ip =5.5.5.5\n ip=6.6.6.6\n", "ip", ""},
      {"absent", "hint=1\n", "ip", ""},
      {"empty value", "console=\n", "console", ""},
      {"last line without LF", "a=1\nconsole=S1", "console", "S1"},
      {"0x1A is data", "\x1a\nresync=desk\n", "resync", "desk"},
      {"NUL ends the value", bytes("console=ab\0cd\n"), "console", "ab"},
      {"a value is at most 127 bytes", "hint=" + std::string(200, 'h') + "\n", "hint",
       std::string(127, 'h')},
      {"a cut never splits a UTF-8 character", "hint=" + std::string(126, 'h') + "\xc3\xa9\n",
       "hint", std::string(126, 'h')},
      {"bytes that are not UTF-8 become U+FFFD",
       "console=a\xe9"
       "b\n",
       "console",
       "a\xef\xbf\xbd"
       "b"},
      {"what lies past 255 bytes of a line is not another line",
       "x=" + std::string(300, 'x') + "ip=7.7.7.7\n", "ip", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cfg_value(c.text, c.key), c.value) << c.what;
  }
  TempFolder dir;
  EXPECT_EQ(cfg_get(dir.at("none.cfg"), "ip"), "");
  EXPECT_EQ(cfg_get("", "ip"), "");
}

TEST(Diag, EnabledAgreesWithTheModule) {
  TempFolder dir;
  struct Case {
    std::string text;
    bool on;
  } const cases[] = {
      {"diag=1\n", true},
      {"diag=0\n", false},
      {"diag=on\n", false},
      {"diag=2 ; loud\r\n", true},
      {"diag=1\ndiag=0\n", false},
      {"diag=0\ndiag=1\n", true},
      {"DIAG=1\n", true},
      {" diag=1\n", false},
      {"diag= 1\n", true},
      {"diag=-1\n", true},
      {"diag=\n", false},
      {"; diag=1\n", false},
      {"resync=desk\n", false},
      {"diag=99999999999\n", true},
      {std::string(kSettingsTemplate), false},
  };
  const std::string path = dir.at("wing.cfg");
  for (const auto& c : cases) {
    put(path, c.text);
    EXPECT_EQ(diag_enabled(path), c.on) << c.text;
    EXPECT_EQ(module_reads(c.text).diag, c.on) << "the module reads " << c.text << " otherwise";
  }
  EXPECT_FALSE(diag_enabled(dir.at("none.cfg")));
  EXPECT_FALSE(diag_enabled(""));
}

TEST(Diag, SetTouchesOnlySettingsFilesThatExist) {
  TempFolder dir;
  EXPECT_FALSE(set_diag(dir.path(), true)) << "neither file: nothing written";
  EXPECT_TRUE(dir.names().empty()) << "and nothing created";
  EXPECT_FALSE(set_diag("", true));

  put(dir.at("x32.cfg"), std::string(kSettingsTemplate));
  EXPECT_TRUE(set_diag(dir.path(), true));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"x32.cfg"});
  EXPECT_TRUE(diag_enabled(dir.at("x32.cfg")));
  EXPECT_TRUE(module_reads(slurp(dir.at("x32.cfg"))).diag);

  put(dir.at("wing.cfg"), "diag=1\n");
  EXPECT_TRUE(set_diag(dir.path(), false));
  EXPECT_FALSE(diag_enabled(dir.at("wing.cfg")));
  EXPECT_FALSE(diag_enabled(dir.at("x32.cfg")));
}

// ---- template and paths ---------------------------------------------------------------------

TEST(Template, IsTheTwentyThreeLinesWithCrLf) {
  const std::string t(kSettingsTemplate);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < t.size()) {
    size_t end = t.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF, the last included";
    lines.push_back(t.substr(pos, end - pos));
    pos = end + 2;
  }
  ASSERT_EQ(lines.size(), 23u);
  EXPECT_EQ(t.size(), 988u);
  EXPECT_EQ(t.find('\n'), t.find("\r\n") + 1);
  EXPECT_EQ(lines[0], "; Kestrune - edit while eMotion LV1 is closed.");
  EXPECT_EQ(lines[9], "resync=desk");
  EXPECT_EQ(lines[14], "session_recall=on");
  EXPECT_EQ(lines[19], "; protect=LCL:3,A:12");
  EXPECT_EQ(lines[21], "; Per-move tracing in %TEMP%\\kestrune.log. Off for shows.");
  EXPECT_EQ(lines[22], "diag=0");
  for (int empty : {1, 10, 15, 20}) EXPECT_EQ(lines[empty], "") << "line " << empty + 1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool comment_or_empty = lines[i].empty() || lines[i][0] == ';';
    EXPECT_EQ(!comment_or_empty, i == 9 || i == 14 || i == 22) << "line " << i + 1;
  }

  TempFolder dir;
  ASSERT_TRUE(write_settings_template(dir.at("wing.cfg")));
  EXPECT_EQ(slurp(dir.at("wing.cfg")), t);
  EXPECT_FALSE(write_settings_template(""));
  const ConsoleConfig m = module_reads(t);
  EXPECT_FALSE(m.resync_lv1);
  EXPECT_TRUE(m.session_recall);
  EXPECT_FALSE(m.diag);
  EXPECT_EQ(m.protect_count, 0) << "the protect example is a comment";
  EXPECT_STREQ(m.ip, "");
}

TEST(Paths, FollowTheConsoleTable) {
  EXPECT_EQ(console_cfg_path("dir", 0), path_join("dir", "wing.cfg"));
  EXPECT_EQ(console_cfg_path("dir", 1), path_join("dir", "x32.cfg"));
  EXPECT_EQ(console_cfg_path("dir", 2), "");
  EXPECT_EQ(console_cfg_path("dir", -1), "");
  EXPECT_EQ(console_cfg_path("", 0), "");
  EXPECT_EQ(state_cfg_path("dir"), path_join("dir", "state.cfg"));
  EXPECT_EQ(state_cfg_path(""), "");
}

}  // namespace
}  // namespace ks::tray
