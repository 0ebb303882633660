// The page model's JSON writer: its escapes, its commas, and hostile texts read back unchanged by
// the tray program's JSON reader.
#include <gtest/gtest.h>

#include "tray/services/json.h"
#include "tray/ui/model/json_writer.h"
#include "tray/ui/model/page_loader.h"

namespace ks::tray {
namespace {

std::string quote_of(std::string_view s) {
  std::string out;
  json_quote(out, s);
  return out;
}

TEST(JsonQuote, Escapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\b", "\"a\\\\b\""},
      {"a\tb", "\"a\\u0009b\""},
      {"a\nb", "\"a\\nb\""},
      {"\r", "\"\\u000d\""},
      {std::string("\0", 1), "\"\\u0000\""},
      {"\x01x\x02", "\"\\u0001x\\u0002\""},
      {"\x1f\x20\x7f", "\"\\u001f \x7f\""},
      {"/", "\"/\""},
      {"\xc3\xa9 \xe2\x80\x94 \xff\xfe",
       "\"\xc3\xa9 \xe2\x80\x94 \xff\xfe\""},  // bytes >= 0x80 copied as they are
  };
  for (const auto& c : cases) EXPECT_EQ(quote_of(c.in), c.out);
}

TEST(JsonWriter, CommasInNestedContainers) {
  JsonWriter w;
  json_begin_object(w);
  json_begin_array(w, "empty");
  json_end_array(w);
  json_begin_object(w, "none");
  json_end_object(w);
  json_begin_array(w, "list");
  json_int(w, 1);
  json_begin_object(w);
  json_bool(w, "t", true);
  json_bool(w, "f", false);
  json_end_object(w);
  json_begin_array(w);
  json_end_array(w);
  json_string(w, "s");
  json_int(w, -42);
  json_end_array(w);
  json_int(w, "big", INT64_MIN);
  json_string(w, "last", "x");
  json_end_object(w);
  EXPECT_EQ(w.out,
            "{\"empty\":[],\"none\":{},\"list\":[1,{\"t\":true,\"f\":false},[],\"s\",-42],"
            "\"big\":-9223372036854775808,\"last\":\"x\"}");
  JsonValue v;
  EXPECT_TRUE(parse_page_model(w.out, v));
}

// Every byte, lone and paired surrogates written as UTF-8, invalid UTF-8 and the paragraph marks
// go through the writer and come back from the reader byte for byte, as key and as value.
TEST(JsonRoundTrip, HostileTextsReadBackUnchanged) {
  std::string every;
  for (int b = 0; b < 256; ++b) every += char(b);
  const std::string texts[] = {
      every,
      "\xed\xa0\x80",                      // a lone high surrogate as three bytes
      "\xed\xa0\xbd\xed\xb8\x80",          // a pair, unpaired bytes
      "\xf0\x9f\x8e\x9a",                  // a real four-byte character
      "\xc3\x28\xa0\xa1\xe2\x28\xa1\xf8",  // invalid sequences
      "Name \x01"
      "emphasised\x01 and \x02secondary\x02 runs",
      "\"quoted\" \\back\\ \ttab\n\r\b\f",
      std::string(2000, '\\'),
  };
  for (const auto& t : texts) {
    JsonWriter w;
    json_begin_object(w);
    json_string(w, t, t);
    json_begin_array(w, "a");
    json_string(w, t);
    json_end_array(w);
    json_end_object(w);
    JsonValue v;
    ASSERT_TRUE(parse_page_model(w.out, v)) << w.out;
    ASSERT_EQ(v.members.size(), 2u);
    EXPECT_EQ(v.members[0].key, t);
    EXPECT_EQ(v.members[0].value.text, t);
    ASSERT_EQ(v.members[1].value.items.size(), 1u);
    EXPECT_EQ(v.members[1].value.items[0].text, t);
  }
}

TEST(PageText, OnlyBlanksMayFollowTheValue) {
  JsonValue v;
  EXPECT_TRUE(parse_page_model("{} \t\r\n", v));
  EXPECT_FALSE(parse_page_model("{} x", v));
  EXPECT_TRUE(v.members.empty());
  EXPECT_FALSE(parse_page_model("{\"a\":1}{}", v));
  EXPECT_FALSE(parse_page_model("", v));
  EXPECT_FALSE(parse_page_model("{\"a\":", v));
}

}  // namespace
}  // namespace ks::tray
