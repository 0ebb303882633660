// The mode table: the first row whose option occurs anywhere in the raw command line.
#include <gtest/gtest.h>

#include "tray/app/modes.h"

namespace ks::tray {
namespace {

int one(const ModeArgs&) { return 1; }
int two(const ModeArgs&) { return 2; }
int three(const ModeArgs&) { return 3; }

TEST(Modes, FirstRowWhoseOptionOccursWins) {
  const ModeRow rows[] = {{"--verify-module", one}, {"--install", two}, {"--on=", three}};
  struct Case {
    std::u16string line;
    int want;  // 0: no mode
  } cases[] = {
      {u"\"C:\\Kestrune\\Kestrune.exe\" --verify-module \"C:\\x.dll\"", 1},
      {u"Kestrune.exe --install", 2},
      {u"Kestrune.exe /quiet--install", 2},  // substring search, as the command line is tested
      {u"Kestrune.exe --on=wing", 3},
      {u"Kestrune.exe --install --verify-module x", 1},  // table order, not position
      {u"Kestrune.exe --verify-module C:\\--install\\x.dll", 1},
      {u"Kestrune.exe --tray", 0},
      {u"Kestrune.exe --INSTALL", 0},
      {u"", 0},
  };
  for (const Case& c : cases) {
    const ModeRow* m = find_mode(rows, c.line);
    ModeArgs a;
    EXPECT_EQ(m ? m->run(a) : 0, c.want) << std::string(c.line.begin(), c.line.end());
  }
  EXPECT_EQ(find_mode({}, u"--install"), nullptr);
}

}  // namespace
}  // namespace ks::tray
