// The mode table: the first row one of whose options is a whole argument (a prefix for "--on="
// and the like), so that a file name holding an option's text never picks a mode.
#include <gtest/gtest.h>

#include "tray/app/modes.h"

namespace ks::tray {
namespace {

int one(const ModeArgs&) { return 1; }
int two(const ModeArgs&) { return 2; }
int three(const ModeArgs&) { return 3; }
int four(const ModeArgs&) { return 4; }

TEST(Modes, FirstRowWhoseOptionIsAWholeArgumentWins) {
  const ModeRow rows[] = {
      {"--verify-module", one}, {"--install", two}, {"--on=", three}, {"--render", four}};
  struct Case {
    std::vector<std::u16string> args;
    int want;  // 0: no mode
  } cases[] = {
      {{u"Kestrune.exe", u"--verify-module", u"C:\\x.dll"}, 1},
      {{u"Kestrune.exe", u"--install"}, 2},
      {{u"Kestrune.exe", u"/quiet--install"}, 0},
      {{u"Kestrune.exe", u"--on=wing"}, 3},
      {{u"Kestrune.exe", u"--on="}, 3},  // the mode itself reports the missing type
      {{u"Kestrune.exe", u"x--on=wing"}, 0},
      {{u"Kestrune.exe", u"--install", u"--verify-module", u"x"}, 1},  // table order
      {{u"Kestrune.exe", u"--verify-module", u"C:\\--install\\x.dll"}, 1},
      // A picture path that holds another mode's option renders; it never installs.
      {{u"Kestrune.exe", u"--render", u"C:\\shots\\--install.png"}, 4},
      {{u"Kestrune.exe", u"--render", u"--on=x.png"}, 3},  // a whole "--on=" argument is one
      {{u"Kestrune.exe", u"--tray"}, 0},
      {{u"Kestrune.exe", u"--INSTALL"}, 0},
      {{u"--install"}, 0},  // the program's own name is not an option
      {{}, 0},
  };
  for (const Case& c : cases) {
    ModeArgs a;
    a.args = c.args;
    const ModeRow* m = find_mode(rows, a);
    std::string shown;
    for (auto& s : c.args) shown += std::string(s.begin(), s.end()) + " ";
    EXPECT_EQ(m ? m->run(a) : 0, c.want) << shown;
  }
  ModeArgs a;
  a.args = {u"Kestrune.exe", u"--install"};
  EXPECT_EQ(find_mode({}, a), nullptr);
}

}  // namespace
}  // namespace ks::tray
