#include "bridge/text.h"

#include <gtest/gtest.h>

namespace ks {
namespace {

TEST(TextCompare, ContainsIgnoresCaseAndNeedsTheWholeNeedle) {
  struct Case {
    const char* hay;
    const char* needle;
    bool found;
  };
  const Case cases[] = {
      {"WING Rack", "rack", true}, {"wing compact", "COMPACT", true},
      {"BK", "bk", true},          {"Full", "full", true},
      {"ful", "full", false},      {"", "rack", false},
      {"racx", "rack", false},     {"r", "rack", false},
      {"xxRACK", "rack", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(icontains(c.hay, c.needle), c.found) << c.hay << " / " << c.needle;
}

TEST(TextCompare, DriverTextsEqualWithoutCaseAndNullEqualsOnlyNull) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {nullptr, nullptr, true}, {nullptr, "LCL", false}, {"LCL", nullptr, false},
      {"", nullptr, false},     {"lcl", "LCL", true},    {"LCL", "LCLX", false},
      {"LCLX", "LCL", false},   {"", "", true},          {"A", "B", false},
      {"@", "`", false},  // one case bit apart, but not letters
  };
  for (const Case& c : cases)
    EXPECT_EQ(iequals(c.a, c.b), c.equal)
        << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)");
}

TEST(TextCopy, CutsToTheFieldAndAlwaysTerminates) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(copy_text(out, sizeof out, static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(copy_text(out, sizeof out, "ABCDEF"), 3u);
  EXPECT_STREQ(out, "ABC");
  EXPECT_EQ(copy_text(out, sizeof out, "AB"), 2u);
  EXPECT_STREQ(out, "AB");
  out[0] = 'x';
  EXPECT_EQ(copy_text(out, 0, "AB"), 0u);
  EXPECT_EQ(out[0], 'x');
}

TEST(TextCopy, ReadsNoFurtherThanItCopiesFromAnUnterminatedField) {
  // A driver's fixed field without its NUL: reading past it is an overflow under the sanitizer.
  const char field[3] = {'L', 'C', 'L'};
  char out[4];
  EXPECT_EQ(copy_text(out, sizeof out, field), 3u);
  EXPECT_STREQ(out, "LCL");
  char small[3];
  EXPECT_EQ(copy_text(small, sizeof small, field), 2u);
  EXPECT_STREQ(small, "LC");
}

}  // namespace
}  // namespace ks
