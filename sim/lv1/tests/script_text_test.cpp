#include "sim/lv1/script_text.h"

#include <gtest/gtest.h>

namespace ks::sim {
namespace {

TEST(ScriptText, NewlinesTravelAsBackslashN) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {
      {"", ""},
      {"one", "one"},
      {"a\nb\n", "a\\nb\\n"},
      {"C:\\path\\x", "C:\\path\\x"},  // other backslashes are kept as they are
  };
  for (const Case& c : cases) {
    EXPECT_EQ(script_escaped(c.text), c.line) << c.text;
    EXPECT_EQ(script_unescaped(c.line), c.text) << c.line;
  }
  EXPECT_EQ(script_unescaped("end\\"), "end\\");  // a trailing backslash is not a newline
}

TEST(ScriptText, CardSetupOpensTheGivenBoxAndLeavesTheCallbackToTheCaller) {
  const std::string s = card_setup_script("box b 11 0");
  EXPECT_EQ(s.rfind("factory \"$BUNDLE\"\nbox b 11 0\nlistener b plain\n", 0), 0u);
  EXPECT_NE(s.find("\nmac b 0a1b2c3d4e5f\n"), std::string::npos);
  EXPECT_EQ(s.find("callback"), std::string::npos);
  EXPECT_EQ(s.back(), '\n');
}

}  // namespace
}  // namespace ks::sim
