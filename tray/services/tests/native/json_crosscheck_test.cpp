// The JSON reader beside Python's json over one corpus: where both take a text they must give
// the same value; where Python refuses, we refuse too, except for the texts this reader takes
// on purpose (listed, each with its reason).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "os/temp.h"
#include "tray/services/json.h"

namespace ks::tray {
namespace {

std::string hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string canon(const JsonValue& v) {
  switch (v.kind) {
    case JsonKind::null: return "n";
    case JsonKind::boolean: return v.boolean ? "t" : "f";
    case JsonKind::number: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.number);
      return std::string("d") + buf;
    }
    case JsonKind::string: return "s" + hex(v.text) + ";";
    case JsonKind::array: {
      std::string s = "[";
      for (size_t i = 0; i < v.items.size(); ++i) s += (i ? "," : "") + canon(v.items[i]);
      return s + "]";
    }
    case JsonKind::object: {
      std::string s = "{";
      for (size_t i = 0; i < v.members.size(); ++i)
        s += (i ? "," : "") + hex(v.members[i].key) + ":" + canon(v.members[i].value);
      return s + "}";
    }
  }
  return "?";
}

std::string ours(const std::string& text) {
  JsonValue v;
  return parsed_then_blank(text, v) ? canon(v) : "ERR";
}

// Python's verdict for each text, in order.
std::vector<std::string> python(const std::vector<std::string>& texts) {
  const std::string in = temp_dir() + "json_corpus.hex";
  {
    std::ofstream f(in, std::ios::binary);
    for (const std::string& t : texts) f << hex(t) << "\n";
  }
  std::vector<std::string> out;
  FILE* p = popen(("python3 '" KS_JSON_ORACLE "' < '" + in + "'").c_str(), "r");
  if (!p) return out;
  std::string cur;
  int c;
  while ((c = fgetc(p)) != EOF) {
    if (c == '\n') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += static_cast<char>(c);
    }
  }
  pclose(p);
  return out;
}

std::string nest(int n) { return std::string(n, '[') + std::string(n, ']'); }

TEST(JsonCrossCheck, SameValuesAsPythonOnValidTexts) {
  const std::vector<std::string> valid = {
      "{}",
      "[]",
      "0",
      "-0",
      "1.5e3",
      "-1E-2",
      "0.1",
      "2.2250738585072014e-308",
      "4.9e-324",
      "1e-400",
      "1e400",
      "-1e400",
      "123456789012345678901234567890",
      "3.141592653589793",
      "[1,2.5,-3]",
      "\"\\u00e9\"",
      "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"",
      "\"caf\xc3\xa9 \xe2\x82\xac\"",
      "\"\\u0000\"",
      "\"\\ud800\"",
      "\"\\uDFFF\"",
      "\"\\uffff\"",
      "{\"a\":{\"b\":[true,false,null]}}",
      "{\"a\":1,\"a\":2}",
      "{\"z\":1,\"y\":2,\"x\":3}",
      " \t\n\r[ 1 , 2 ]\r\n",
      "[[],[[]],{}]",
      "{\"\":\"\"}",
      "\"" + std::string(10000, 'x') + "\"",
      nest(32),
      "true",
      "false",
      "null",
      "{\"release\":{\"version\":\"3.2.0\",\"files\":[{\"name\":\"k.dll\",\"size\":1024}]}}",
  };
  const std::vector<std::string> py = python(valid);
  ASSERT_EQ(py.size(), valid.size()) << "python3 did not answer for every text";
  for (size_t i = 0; i < valid.size(); ++i) {
    EXPECT_NE(py[i], "ERR") << "Python refuses a text of the valid corpus: "
                            << valid[i].substr(0, 80);
    EXPECT_EQ(ours(valid[i]), py[i]) << valid[i].substr(0, 80);
  }
}

TEST(JsonCrossCheck, WherePythonRefusesWeRefuseSaveOnPurpose) {
  const std::vector<std::string> invalid = {
      "",        " ",         "[1,]",    "{\"a\":1,}", "[1 2]", "{a:1}", "'x'",  "\"abc",
      "[",       "{\"a\"",    "{\"a\":", "truex",      "1.2.3", "1e",    "-",    "--1",
      "\"\\x\"", "\"\\u12\"", "\"\\u12", "[1]]",       "{} x",  "nul",   "True", "[1}",
      "0x10",    "[,1]",      "{,}",     "\"\\'\"",    "1 2",
  };
  // Texts Python refuses that this reader takes by its rules: numbers are whatever strtod uses
  // whole, and string bytes are copied unchecked (raw control bytes, invalid UTF-8).
  const std::vector<std::string> taken_on_purpose = {
      "+1", "01", ".5", "5.", "-01", "1.e5", "\"\x01\"", "\"a\tb\"", "\"\xff\xfe\"", "[\"\xc3\"]",
  };
  std::vector<std::string> all = invalid;
  all.insert(all.end(), taken_on_purpose.begin(), taken_on_purpose.end());
  const std::vector<std::string> py = python(all);
  ASSERT_EQ(py.size(), all.size());
  for (size_t i = 0; i < invalid.size(); ++i) {
    EXPECT_EQ(py[i], "ERR") << "Python takes " << invalid[i];
    EXPECT_EQ(ours(invalid[i]), "ERR") << invalid[i];
  }
  for (size_t i = 0; i < taken_on_purpose.size(); ++i) {
    EXPECT_EQ(py[invalid.size() + i], "ERR") << "Python takes " << taken_on_purpose[i];
    EXPECT_NE(ours(taken_on_purpose[i]), "ERR") << taken_on_purpose[i];
  }
}

TEST(JsonCrossCheck, WherePythonAcceptsMoreOrPairsSurrogates) {
  // Python takes its non-standard constants and any depth; this reader takes neither.
  const std::vector<std::string> refused_here = {"NaN", "Infinity", "-Infinity", "[NaN]", nest(33)};
  const std::string pair = "\"\\ud83d\\ude00\"";
  std::vector<std::string> all = refused_here;
  all.push_back(pair);
  const std::vector<std::string> py = python(all);
  ASSERT_EQ(py.size(), all.size());
  for (size_t i = 0; i < refused_here.size(); ++i) {
    EXPECT_NE(py[i], "ERR") << refused_here[i].substr(0, 40);
    EXPECT_EQ(ours(refused_here[i]), "ERR") << refused_here[i].substr(0, 40);
  }
  // A surrogate pair: Python joins it into one code point (4 bytes); this reader encodes each
  // unit alone (3 + 3 bytes).
  EXPECT_EQ(py.back(), "sf09f9880;");
  EXPECT_EQ(ours(pair), "seda0bdedb880;");
}

}  // namespace
}  // namespace ks::tray
