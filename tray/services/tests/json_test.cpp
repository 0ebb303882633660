// The JSON reader's rules, case by case, and the lookups, versions and paths beside it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "tray/services/json.h"
#include "tray/services/text_utils.h"

namespace ks::tray {
namespace {

std::string nested(int depth, const char* open, const char* close) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  for (int i = 0; i < depth; ++i) s += close;
  return s;
}

TEST(Json, WholeTextRules) {
  struct Case {
    std::string text;
    bool ok;
    const char* why;
  } cases[] = {
      {" {} ", true, "blanks around an empty object"},
      {"{} x", false, "a letter after the value"},
      {"{}\t\n", true, "tab and line feed after the value"},
      {"\r\n[1]\r\n", true, "CR LF around the value"},
      {"{}\f", false, "form feed is not a blank"},
      {"", false, "empty text"},
      {"   ", false, "only blanks"},
      {nested(32, "[", "]"), true, "32 nested arrays"},
      {nested(33, "[", "]"), false, "33 nested arrays"},
      {"[1}", false, "array closed by a brace"},
      {"{\"a\":1]", false, "object closed by a bracket"},
      {"[1,]", false, "comma before ]"},
      {"{\"a\":1,}", false, "comma before }"},
      {"[1 2]", false, "two elements without a comma"},
      {"{\"a\" 1}", false, "member without a colon"},
      {"{a:1}", false, "key without quotes"},
      {"{1:1}", false, "number as key"},
      {"[1", false, "truncated array"},
      {"{\"a\":", false, "truncated after the colon"},
      {"{\"a\":1", false, "truncated object"},
      {"\"abc", false, "unterminated string"},
      {"\"a\\", false, "backslash at the end"},
      {"truex", false, "true followed by a letter"},
      {"[truex]", false, "a letter after true inside an array"},
      {"nul", false, "truncated null"},
      {"True", false, "literals are case-sensitive"},
      {"[1.2.3]", false, "1.2.3"},
      {"1e", false, "1e"},
      {"-", false, "a lone minus"},
      {"+", false, "a lone plus"},
      {"++1", false, "two plus signs"},
      {"+-1", false, "plus then minus"},
      {"--1", false, "two minus signs"},
      {"+1", true, "+1 as strtod reads it"},
      {"01", true, "01 as strtod reads it"},
      {".5", true, ".5 as strtod reads it"},
      {"5.", true, "5. as strtod reads it"},
      {"1E+2", true, "exponent with sign"},
      {"NaN", false, "NaN is no number here"},
      {"Infinity", false, "Infinity is no number here"},
      {"-Infinity", false, "-Infinity: the run is a lone minus"},
      {"0x10", false, "hexadecimal: the x is stray"},
      {"\"\\x41\"", false, "backslash x"},
      {"\"\\u00\"", false, "\\u with two digits before the quote"},
      {"\"\\u00", false, "\\u with two digits before the end"},
      {"\"\\u00G1\"", false, "\\u with a non-hex digit"},
      {"\"\\'\"", false, "escaped apostrophe"},
      {std::string("\"a\0b\"", 5), true, "a raw NUL inside a string is copied"},
      {std::string("[1]\0", 4), false, "a NUL after the value"},
      {"\"\x01\x1f\"", true, "raw control bytes are not checked"},
      {"\"\xff\xfe\xc3\"", true, "invalid UTF-8 is copied unchanged"},
      {"\"\x1a\" ", true, "a 0x1A byte is a byte like any other"},
  };
  for (const Case& c : cases) {
    JsonValue v;
    EXPECT_EQ(parsed_then_blank(c.text, v), c.ok) << c.why << ": " << c.text;
  }
}

TEST(Json, ValuesAndKinds) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(
      R"({"s":"x","n":-2.5e1,"t":true,"f":false,"z":null,"a":[1,[],{}],"o":{}})", v));
  ASSERT_EQ(v.kind, JsonKind::object);
  ASSERT_EQ(v.members.size(), 7u);
  const char* keys[] = {"s", "n", "t", "f", "z", "a", "o"};
  JsonKind kinds[] = {JsonKind::string, JsonKind::number, JsonKind::boolean, JsonKind::boolean,
                      JsonKind::null,   JsonKind::array,  JsonKind::object};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(v.members[i].key, keys[i]);
    EXPECT_EQ(v.members[i].value.kind, kinds[i]) << keys[i];
  }
  EXPECT_EQ(json_find(v, "s")->text, "x");
  EXPECT_EQ(json_find(v, "n")->number, -25.0);
  EXPECT_TRUE(json_find(v, "t")->boolean);
  EXPECT_FALSE(json_find(v, "f")->boolean);
  const JsonValue* a = json_find(v, "a");
  ASSERT_EQ(a->items.size(), 3u);
  EXPECT_EQ(a->items[0].number, 1.0);
  EXPECT_EQ(a->items[1].kind, JsonKind::array);
  EXPECT_TRUE(a->items[1].items.empty());
  EXPECT_EQ(a->items[2].kind, JsonKind::object);
}

TEST(Json, NumbersFollowStrtod) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"+1", 1},
               {"01", 1},
               {".5", 0.5},
               {"-0.125", -0.125},
               {"1e3", 1000},
               {"2E-2", 0.02},
               {"123456789012345678", 123456789012345678.0},
               {"1e-400", 0.0}};
  for (const Case& c : cases) {
    JsonValue v;
    ASSERT_TRUE(parsed_then_blank(c.text, v)) << c.text;
    EXPECT_EQ(v.kind, JsonKind::number);
    EXPECT_EQ(v.number, c.value) << c.text;
  }
  // Past the double range the run is still used whole, as strtod uses it: +-infinity.
  JsonValue big, neg, minus_zero;
  ASSERT_TRUE(parsed_then_blank("1e999", big));
  EXPECT_TRUE(std::isinf(big.number) && big.number > 0);
  ASSERT_TRUE(parsed_then_blank("-" + std::string(400, '9'), neg));
  EXPECT_TRUE(std::isinf(neg.number) && neg.number < 0);
  ASSERT_TRUE(parsed_then_blank("-0", minus_zero));
  EXPECT_TRUE(std::signbit(minus_zero.number));
}

TEST(Json, NumberAtTheVeryEndOfAnUnterminatedBuffer) {
  // The digits run up to the last byte of the allocation: the conversion must not read past it
  // (the sanitizers of the native tier see an over-read).
  const char digits[] = "12345";
  std::unique_ptr<char[]> buf(new char[5]);
  std::memcpy(buf.get(), digits, 5);
  JsonCursor cur{buf.get(), buf.get() + 5, 0};
  JsonValue v;
  ASSERT_TRUE(json_parse(cur, v));
  EXPECT_EQ(v.number, 12345.0);
  EXPECT_EQ(cur.pos, buf.get() + 5);
  EXPECT_EQ(cur.depth, 0);
}

TEST(Json, CursorStopsBehindTheValueAndLeavesTheRest) {
  const std::string text = "true, [1] x";
  JsonCursor cur{text.data(), text.data() + text.size(), 0};
  JsonValue v;
  ASSERT_TRUE(json_parse(cur, v));
  EXPECT_TRUE(v.boolean);
  EXPECT_EQ(std::string(cur.pos, cur.end), ", [1] x");
  ++cur.pos;
  JsonValue w;
  ASSERT_TRUE(json_parse(cur, w));
  EXPECT_EQ(std::string(cur.pos, cur.end), " x");
  // The depth counter comes back to where it started after success and after failure.
  EXPECT_EQ(cur.depth, 0);
  const std::string deep = nested(40, "[", "]");
  JsonCursor dc{deep.data(), deep.data() + deep.size(), 0};
  JsonValue dv;
  EXPECT_FALSE(json_parse(dc, dv));
  EXPECT_EQ(dc.depth, 0);
}

TEST(Json, NestingLimitHoldsForMixedBrackets) {
  std::string ok, too_deep;
  for (int i = 0; i < 16; ++i) ok += "{\"k\":[";  // 32 levels; the innermost array is empty
  for (int i = 0; i < 16; ++i) ok += "]}";
  too_deep = "[" + ok + "]";
  JsonValue v;
  EXPECT_TRUE(parsed_then_blank(ok, v));
  JsonValue w;
  EXPECT_FALSE(parsed_then_blank(too_deep, w));
  // A very deep text fails at the limit instead of running out of stack.
  JsonValue x;
  EXPECT_FALSE(parsed_then_blank(std::string(1000000, '['), x));
}

TEST(Json, StringEscapes) {
  struct Case {
    const char* text;
    std::string bytes;
  } cases[] = {
      {R"("")", ""},
      {R"("\"\/\\")", "\"/\\"},
      {R"("\b\f\n\r\t")", "\x08\x0C\x0A\x0D\x09"},
      {R"("\u0041")", "A"},
      {R"("\u00e9")", "\xC3\xA9"},
      {R"("\u00E9")", "\xC3\xA9"},
      {R"("\u07FF")", "\xDF\xBF"},
      {R"("\u0800")", "\xE0\xA0\x80"},
      {R"("\uFFFF")", "\xEF\xBF\xBF"},
      {R"("\u0000")", std::string(1, '\0')},
      // Surrogates are encoded one by one, never paired; a lone one is taken the same way.
      {R"("\ud83d\ude00")", "\xED\xA0\xBD\xED\xB8\x80"},
      {R"("\udc00")", "\xED\xB0\x80"},
      {"\"tab\there\"", "tab\there"},
  };
  for (const Case& c : cases) {
    JsonValue v;
    ASSERT_TRUE(parsed_then_blank(c.text, v)) << c.text;
    EXPECT_EQ(v.kind, JsonKind::string);
    EXPECT_EQ(v.text, c.bytes) << c.text;
  }
  JsonValue k;
  ASSERT_TRUE(parsed_then_blank(R"({"\u0061\n":1})", k));
  EXPECT_EQ(k.members[0].key, "a\n");
}

TEST(Json, DuplicateKeysKeptFirstOneFound) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(R"({"a":1,"a":2})", v));
  ASSERT_EQ(v.members.size(), 2u);
  EXPECT_EQ(v.members[1].value.number, 2.0);
  ASSERT_NE(json_find(v, "a"), nullptr);
  EXPECT_EQ(json_find(v, "a")->number, 1.0);
}

// A value parsed into twice holds the second text only: an earlier parse's members would
// otherwise be found first.
TEST(Json, AReusedValueKeepsNothingOfItsEarlierParse) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(R"({"version":"1.0.0","url":"a"})", v));
  ASSERT_TRUE(parsed_then_blank(R"({"version":"2.0.0"})", v));
  EXPECT_EQ(json_get_string(v, "version"), "2.0.0");
  EXPECT_EQ(json_find(v, "url"), nullptr);
  EXPECT_EQ(v.members.size(), 1u);
  ASSERT_TRUE(parsed_then_blank("[1,2]", v));
  ASSERT_TRUE(parsed_then_blank("[3]", v));
  EXPECT_EQ(v.items.size(), 1u);
}

TEST(Json, LookupsCompareKeysExactly) {
  JsonValue v;
  ASSERT_TRUE(parsed_then_blank(R"({"name":"x","Name":"y","num":5,"nul":null,"ab":"z"})", v));
  EXPECT_EQ(json_get_string(v, "name"), "x");
  EXPECT_EQ(json_get_string(v, "Name"), "y");
  EXPECT_EQ(json_get_string(v, "NAME"), "");
  EXPECT_EQ(json_get_string(v, "num"), "") << "a number is not converted";
  EXPECT_EQ(json_get_string(v, "nul"), "");
  EXPECT_EQ(json_get_string(v, "a"), "") << "a prefix of a key is not the key";
  EXPECT_EQ(json_get_string(v, "abc"), "");
  EXPECT_EQ(json_find(v, "missing"), nullptr);
  JsonValue arr;
  ASSERT_TRUE(parsed_then_blank(R"(["name"])", arr));
  EXPECT_EQ(json_find(arr, "name"), nullptr) << "an array has no members";

  JsonValue u;
  ASSERT_TRUE(parsed_then_blank(R"({"p":"C:\\Caf\u00e9"})", u));
  EXPECT_EQ(json_wstring(&u, "p"), u"C:\\Caf\u00e9");
  EXPECT_EQ(json_wstring(nullptr, "p"), u"");
  EXPECT_EQ(json_wstring(&u, "q"), u"");
}

TEST(Json, MutatedTextsStayInsideTheirBuffer) {
  // Random single-byte edits, cuts and splices of valid texts, each parsed from a heap buffer of
  // exactly its size: the sanitizers of the native tier see any read past it. Every parse ends
  // with the cursor inside the text and the depth back at 0.
  const std::string seeds[] = {
      R"({"manifest":{"format":"kestrune-release/1","platforms":{"windows-x64":{"body":"eyJ9","sig":"AA=="}}}})",
      R"([1,-2.5e3,"a\u00e9\n",true,false,null,{"k":[[],{}]}])", "\"\\ud83d\\ude00\"", "12345",
      "[[[[[[1]]]]]]"};
  uint32_t rng = 12345;
  auto next = [&] { return rng = rng * 1103515245u + 12345u, rng >> 8; };
  const char alphabet[] = "{}[]\",:\\u0123456789abcdefE+-.tfn \t\r\n\x1a\xff";
  for (int round = 0; round < 20000; ++round) {
    std::string t = seeds[next() % 5];
    for (int edits = 1 + next() % 3; edits > 0 && !t.empty(); --edits) {
      size_t at = next() % t.size();
      switch (next() % 3) {
        case 0: t[at] = alphabet[next() % (sizeof alphabet - 1)]; break;
        case 1: t.erase(at, 1 + next() % 4); break;
        default: t = t.substr(0, at); break;
      }
    }
    std::unique_ptr<char[]> buf(new char[t.size()]);
    std::memcpy(buf.get(), t.data(), t.size());
    JsonCursor cur{buf.get(), buf.get() + t.size(), 0};
    JsonValue v;
    json_parse(cur, v);
    ASSERT_GE(cur.pos, buf.get());
    ASSERT_LE(cur.pos, buf.get() + t.size());
    ASSERT_EQ(cur.depth, 0) << t;
    JsonValue w;
    parsed_then_blank(std::string_view(buf.get(), t.size()), w);
  }
}

TEST(Version, ParseTable) {
  struct Case {
    const char* text;
    int32_t major, minor, patch;
    bool pre;
  } cases[] = {
      {"3.2.0", 3, 2, 0, false},
      {"3.2.0-rc1", 3, 2, 0, true},
      {"3.2.0-", 3, 2, 0, true},
      {"3.2.0+build", 3, 2, 0, false},
      {"3.2.0.7", 3, 2, 0, false},
      {"10.20.30 ", 10, 20, 30, false},
      {" 3. 2. 1", 3, 2, 1, false},  // strtol skips leading white space
      {"+3.2.1", 3, 2, 1, false},
      {"3.2", -1, 0, 0, false},
      {"3.2.", -1, 0, 0, false},
      {"3..1", -1, 0, 0, false},
      {"3,2,1", -1, 0, 0, false},
      {"v3.2.1", -1, 0, 0, false},
      {"", -1, 0, 0, false},
      {"-", -1, 0, 0, false},
      // Longer than 32 bits: clamped, so every platform reads it alike.
      {"99999999999.0.0", 2147483647, 0, 0, false},
      {"1.99999999999999999999.0", 1, 2147483647, 0, false},
  };
  for (const Case& c : cases) {
    VersionTriple v = parse_version(c.text);
    EXPECT_EQ(v.major, c.major) << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.text;
    EXPECT_EQ(v.patch, c.patch) << c.text;
    EXPECT_EQ(v.prerelease, c.pre) << c.text;
  }
}

TEST(Paths, ParentAndStrip) {
  struct Case {
    const char* path;
    const char* parent;
    const char* stripped;
  } cases[] = {
      {"C:\\a\\b", "C:\\a", "a\\b"},
      {"C:\\a", "C:\\", "a"},
      {"C:\\", "C:\\", ""},
      {"C:", "C:", ""},
      {"C:/a//b", "C:/a", "a//b"},
      {"C:/a//b/", "C:/a//b", "a//b/"},
      {"c:\\x\\y\\z.dll", "c:\\x\\y", "x\\y\\z.dll"},
      {"\\\\srv\\share\\x", "\\\\srv\\share", "share\\x"},
      {"\\\\srv\\share", "\\\\srv\\", "share"},
      {"\\a\\b", "\\a", "a\\b"},
      {"a\\b", "a", "a\\b"},
      {"a", "", "a"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parent_path(c.path), c.parent) << c.path;
    EXPECT_EQ(strip_leading_separators(c.path), c.stripped) << c.path;
  }
}

TEST(TextUtils, Utf8RoundTripAndInvalidInput) {
  EXPECT_EQ(to_utf8(u""), "");
  EXPECT_EQ(from_utf8(""), u"");
  const std::u16string w = u"Caf\u00e9 \u20ac \U0001F3B5";
  EXPECT_EQ(from_utf8(to_utf8(w)), w);
  EXPECT_EQ(to_utf8(u"\u00e9"), "\xC3\xA9");
  // Broken input becomes U+FFFD, as the platform converter gives without flags.
  EXPECT_EQ(from_utf8("a\xff"
                      "b"),
            u"a\uFFFDb");
  EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ks::tray
