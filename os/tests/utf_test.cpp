#include "os/utf.h"

#include <gtest/gtest.h>

namespace ks {
namespace {

TEST(Utf, RoundTripsTextOfEveryLength) {
  const char* cases[] = {"",
                         "plain",
                         "C:\\ProgramData\\Waves Audio",
                         "Gr\xC3\xBC\xC3\x9F"
                         "e",
                         "\xE2\x82\xAC 48V",
                         "\xF0\x9F\x8E\xA4 mic"};
  for (const char* c : cases) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(c)), c);
  EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x8E\xA4"), (std::u16string{0xD83C, 0xDFA4}));
  EXPECT_EQ(utf8_to_utf16("\xE2\x82\xAC"), std::u16string(1, 0x20AC));
}

TEST(Utf, BrokenInputBecomesReplacementCharacters) {
  struct Case {
    std::string in;
    std::u16string out;
  };
  const Case cases[] = {
      {"a\xFF"
       "b",
       u"a\uFFFDb"},
      {"\xC3", u"\uFFFD"},  // cut short at the end
      {"\xE2\x82"
       "x",
       u"\uFFFDx"},                     // cut short before ASCII
      {"\xC0\xAF", u"\uFFFD"},          // overlong '/'
      {"\xED\xA0\x80", u"\uFFFD"},      // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD"},  // above U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_to_utf16(c.in), c.out) << c.in;
  EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', char16_t(0xD800)}),
            "a\xEF\xBF\xBD");  // lone surrogate
  EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xDC00), u'b'}),
            "\xEF\xBF\xBD"
            "b");
}

}  // namespace
}  // namespace ks
