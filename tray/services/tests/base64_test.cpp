// Both Base64 decoders: the general one (manifest body and signatures) and the trailer's strict
// one, by rule and against Python's encoder at every length 0..300 and on 1 MiB.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tray/services/base64.h"
#include "tray/services/tests/support/fixtures.h"

namespace ks::tray {
namespace {

std::string bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Base64, DecoderRules) {
  struct Case {
    std::string text;
    bool ok;
    const char* out;
  } cases[] = {
      {"", true, ""},
      {"TWFu", true, "Man"},
      {"TWE=", true, "Ma"},
      {"TQ==", true, "M"},
      {"TWE", true, "Ma"},  // a missing "=" is tolerated
      {"TQ", true, "M"},
      {"T", false, ""},  // a dangling single character
      {"TWFuT", false, ""},
      {"TQ===", false, ""},     // three "="
      {"TQ==TQ==", false, ""},  // data after "="
      {"TQ=Q", false, ""},
      {" T W\tF\r\nu ", true, "Man"},  // blanks anywhere
      {"TW Fu\n", true, "Man"},
      {"TWFu!", false, ""},
      {"TW-_", false, ""},  // no URL-safe alphabet
      {std::string("TWFu\0", 5), false, ""},
      {"////", true, "\xff\xff\xff"},
      {"++++", true, "\xfb\xef\xbe"},
      {"=", true, ""},            // padding alone leaves nothing over
      {"TQ\xc3\xa9", false, ""},  // a byte of 0x80 and above
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_EQ(base64_decode(c.text, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bytes(out), c.out) << c.text;
    }
  }
}

TEST(Base64, StrictDecoderForTrailers) {
  uint8_t out[3];
  EXPECT_TRUE(base64_decode_exact("TWFu", out, 3));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "Man");
  EXPECT_TRUE(base64_decode_exact("TWFu==junk", out, 3)) << "the first = ends the text";
  EXPECT_FALSE(base64_decode_exact("TW Fu", out, 3)) << "a blank fails here";
  EXPECT_FALSE(base64_decode_exact("TWFuTQ", out, 3)) << "the 4th output byte fails";
  EXPECT_FALSE(base64_decode_exact("TWE", out, 3)) << "too few bytes";
  EXPECT_FALSE(base64_decode_exact("", out, 3));
  EXPECT_FALSE(base64_decode_exact("TW\nFu", out, 3));
}

struct Row {
  size_t n;
  std::string sha, b64;
};

std::vector<Row> table() {
  std::vector<Row> rows;
  std::istringstream in(test::read_fixture("crosscheck.txt"));
  Row r;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    r.b64.clear();
    l >> r.n >> r.sha >> r.b64;  // the Base64 of length 0 is empty
    rows.push_back(r);
  }
  return rows;
}

TEST(Base64, MatchesPythonAtEveryLength) {
  const std::vector<Row> rows = table();
  ASSERT_EQ(rows.size(), 302u) << test::fixture_path("crosscheck.txt");
  for (const Row& r : rows) {
    const std::vector<uint8_t> want = test::crosscheck_pattern(r.n);
    std::vector<uint8_t> got;
    ASSERT_TRUE(base64_decode(r.b64, got)) << r.n;
    ASSERT_EQ(got, want) << r.n;
    EXPECT_EQ(test::base64_encode(want.data(), want.size()), r.b64) << r.n;

    // Broken into 76-column lines, as mail and PEM tools write it.
    std::string wrapped;
    for (size_t i = 0; i < r.b64.size(); i += 76) wrapped += r.b64.substr(i, 76) + "\r\n";
    ASSERT_TRUE(base64_decode(wrapped, got)) << r.n;
    ASSERT_EQ(got, want) << r.n;

    // Without its padding.
    std::string bare = r.b64.substr(0, r.b64.find('='));
    ASSERT_TRUE(base64_decode(bare, got)) << r.n;
    ASSERT_EQ(got, want) << r.n;

    if (r.n == 64) {
      uint8_t sig[64];
      EXPECT_TRUE(base64_decode_exact(r.b64, sig, 64));
      EXPECT_EQ(std::vector<uint8_t>(sig, sig + 64), want);
    }
  }
}

}  // namespace
}  // namespace ks::tray
