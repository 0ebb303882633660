// The mode table: the first row whose option is one whole argument of the command line.
#include <gtest/gtest.h>

#include "tray/app/modes.h"

namespace ks::tray {
namespace {

int verify(const ModeArgs&) { return 1; }
int install(const ModeArgs&) { return 2; }
int remove(const ModeArgs&) { return 3; }
int on(const ModeArgs&) { return 4; }
int off(const ModeArgs&) { return 5; }
int render(const ModeArgs&) { return 6; }

TEST(Modes, WholeArgumentsChooseTheModeInTableOrder) {
  const ModeRow rows[] = {{"--verify-module", verify},
                          {"--install", install},
                          {"--remove", remove},
                          {"--on=", on},
                          {"--off=", off},
                          {"--render", render}};
  struct Case {
    std::vector<std::u16string> args;
    int want;  // 0: the tray program
    std::u16string option;
  } cases[] = {
      {{u"Kestrune.exe", u"--verify-module", u"C:\\x.dll"}, 1, u"--verify-module"},
      {{u"Kestrune.exe", u"--install"}, 2, u"--install"},
      {{u"Kestrune.exe", u"--remove"}, 3, u"--remove"},
      {{u"Kestrune.exe", u"--on=X32"}, 4, u"--on=X32"},
      {{u"Kestrune.exe", u"--off=wing"}, 5, u"--off=wing"},
      {{u"Kestrune.exe", u"--render", u"out.png", u"setup"}, 6, u"--render"},
      // Table order, not position on the line.
      {{u"Kestrune.exe", u"--install", u"--verify-module", u"x"}, 1, u"--verify-module"},
      // Options inside paths and other arguments are no options.
      {{u"Kestrune.exe", u"--render", u"C:\\shots\\--remove.png", u"setup"}, 6, u"--render"},
      {{u"Kestrune.exe", u"--render", u"C:\\--install\\--on=wing.png"}, 6, u"--render"},
      {{u"Kestrune.exe", u"--verify-module", u"C:\\--install\\x.dll"}, 1, u"--verify-module"},
      {{u"Kestrune.exe", u"/quiet--install"}, 0, u""},
      {{u"Kestrune.exe", u"--installer"}, 0, u""},
      {{u"Kestrune.exe", u"x--on=wing"}, 0, u""},
      // The program's own path is never an option, whatever its folder is called.
      {{u"C:\\--install\\Kestrune.exe", u"--tray"}, 0, u""},
      {{u"--remove"}, 0, u""},
      {{u"Kestrune.exe", u"--tray"}, 0, u""},
      {{u"Kestrune.exe", u"--INSTALL"}, 0, u""},
      {{u"Kestrune.exe", u""}, 0, u""},
      {{}, 0, u""},
  };
  for (const Case& c : cases) {
    std::u16string which;
    const ModeRow* m = find_mode(rows, c.args, &which);
    ModeArgs a;
    std::string line;
    for (const auto& s : c.args) line += std::string(s.begin(), s.end()) + " ";
    EXPECT_EQ(m ? m->run(a) : 0, c.want) << line;
    EXPECT_EQ(which, c.option) << line;
  }
}

TEST(Modes, FindOptionMatchesPrefixOnlyForOptionsEndingInEquals) {
  const std::vector<std::u16string> args = {u"Kestrune.exe", u"--tray", u"--updated=3.2.0"};
  EXPECT_NE(find_option(args, "--tray"), nullptr);
  EXPECT_EQ(find_option(args, "--tra"), nullptr);
  ASSERT_NE(find_option(args, "--updated="), nullptr);
  EXPECT_EQ(*find_option(args, "--updated="), u"--updated=3.2.0");
  EXPECT_EQ(find_option(args, "--updated"), nullptr);
  EXPECT_EQ(find_option(args, ""), nullptr);
}

}  // namespace
}  // namespace ks::tray
