// The OSC codec: byte-exact messages, the hostile-datagram table and a bounded fuzz run.
#include "desk/x32/osc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace ks {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(uint8_t(x));
  return b;
}

// Builds a datagram from pieces: text is copied with its NUL and padded, numbers big-endian.
struct Builder {
  Bytes b;
  Builder& str(const std::string& s) {
    for (char c : s) b.push_back(uint8_t(c));
    b.push_back(0);
    while (b.size() % 4) b.push_back(0);
    return *this;
  }
  Builder& raw(const std::string& s) {
    for (char c : s) b.push_back(uint8_t(c));
    return *this;
  }
  Builder& u32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
    return *this;
  }
  Builder& f32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return u32(v);
  }
};

Bytes query(const char* address) {
  uint8_t out[256];
  size_t n = osc_encode_query(address, out, sizeof out);
  return Bytes(out, out + n);
}

TEST(OscEncode, FixedMessagesAreByteExact) {
  EXPECT_EQ(query("/xremote"),
            bytes({0x2F, 0x78, 0x72, 0x65, 0x6D, 0x6F, 0x74, 0x65, 0, 0, 0, 0, 0x2C, 0, 0, 0}));
  EXPECT_EQ(query("/xinfo"), bytes({0x2F, 0x78, 0x69, 0x6E, 0x66, 0x6F, 0, 0, 0x2C, 0, 0, 0}));
  EXPECT_EQ(query("/status").size(), 12u);
  EXPECT_EQ(query("/-stat/aes50/A").size(), 20u);
  EXPECT_EQ(query("/-stat/aes50/B").size(), 20u);
  EXPECT_EQ(query("/headamp/000/gain").size(), 24u);
}

TEST(OscEncode, GainAndPhantomWrites) {
  uint8_t out[64];
  size_t n = osc_encode_float("/headamp/000/gain", 12.0f / 72.0f, out, sizeof out);
  Bytes expect = Builder().str("/headamp/000/gain").str(",f").u32(0x3E2AAAAB).b;
  EXPECT_EQ(Bytes(out, out + n), expect);
  EXPECT_EQ(n, 28u);

  n = osc_encode_int("/headamp/127/phantom", 1, out, sizeof out);
  expect = Builder().str("/headamp/127/phantom").str(",i").u32(1).b;
  EXPECT_EQ(Bytes(out, out + n), expect);
  EXPECT_EQ(n, 32u);
}

TEST(OscEncode, RefusesWhatDoesNotFit) {
  uint8_t out[256];
  // The longest address a reply can carry back (95 characters) is the longest we ask for.
  std::string longest = "/" + std::string(94, 'a');
  std::string too_long = "/" + std::string(95, 'a');
  EXPECT_EQ(osc_encode_query(longest.c_str(), out, sizeof out), 100u);
  EXPECT_EQ(osc_encode_query(too_long.c_str(), out, sizeof out), 0u);
  EXPECT_EQ(osc_encode_query("", out, sizeof out), 0u);
  EXPECT_EQ(osc_encode_query(nullptr, out, sizeof out), 0u);
  EXPECT_EQ(osc_encode_query("xremote", out, sizeof out), 0u);
  EXPECT_EQ(osc_encode_query("/xremote", out, 15), 0u);
  EXPECT_EQ(osc_encode_float("/headamp/000/gain", 0.5f, out, 27), 0u);
  EXPECT_EQ(osc_encode_int("/headamp/000/phantom", 1, out, 31), 0u);
}

TEST(OscParse, ReadsEveryArgumentKind) {
  Bytes d = Builder()
                .str("/xinfo")
                .str(",ssssifb")
                .str("127.0.0.2")
                .str("FOH")
                .str("X32RACK")
                .str("4.06")
                .u32(uint32_t(-7))
                .f32(0.25f)
                .u32(5)
                .raw("abcde")
                .raw(std::string(3, '\0'))
                .b;
  OscMessage m;
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  EXPECT_STREQ(m.address, "/xinfo");
  EXPECT_STREQ(m.type_tags, ",ssssifb");
  ASSERT_EQ(m.arg_count, 7);
  EXPECT_EQ(std::string(m.arg_tag, 7), "ssssifb");
  EXPECT_EQ(m.string_count, 4);
  EXPECT_STREQ(m.strings[0], "127.0.0.2");
  EXPECT_STREQ(m.strings[2], "X32RACK");
  EXPECT_STREQ(m.strings[3], "4.06");
  EXPECT_EQ(m.arg_value[4], -7.0);
  EXPECT_EQ(m.arg_value[5], 0.25);
  double v;
  EXPECT_FALSE(osc_first_number(m, &v));
}

TEST(OscParse, AcceptedEdgeShapes) {
  struct Case {
    const char* name;
    Bytes d;
    const char* address;
    int args;
    int strings;
  };
  std::string a95 = "/" + std::string(94, 'x');
  std::vector<Case> cases = {
      {"no type tag at all", Builder().str("/status").b, "/status", 0, 0},
      {"something else where the tag would be", Builder().str("/status").str("xyz").b, "/status", 0,
       0},
      {"empty type tag", Builder().str("/xinfo").str(",").b, "/xinfo", 0, 0},
      {"address of 95 characters", Builder().str(a95).str(",").b, a95.c_str(), 0, 0},
      {"fifth string is checked, not kept",
       Builder().str("/a").str(",sssss").str("1").str("2").str("3").str("4").str("5").b, "/a", 5,
       4},
      {"long string cut to 63", Builder().str("/a").str(",s").str(std::string(100, 'q')).b, "/a", 1,
       1},
      {"unknown tag ends the parse", Builder().str("/a").str(",fTf").f32(1).b, "/a", 1, 0},
      {"ninth and later arguments not kept",
       Builder()
           .str("/a")
           .str(",iiiiiiiiii")
           .u32(1)
           .u32(2)
           .u32(3)
           .u32(4)
           .u32(5)
           .u32(6)
           .u32(7)
           .u32(8)
           .u32(9)
           .u32(10)
           .b,
       "/a", 8, 0},
      {"empty blob", Builder().str("/a").str(",bi").u32(0).u32(3).b, "/a", 2, 0},
      {"blob filling the rest", Builder().str("/a").str(",b").u32(8).raw("12345678").b, "/a", 1, 0},
      {"fourteen tags", Builder().str("/a").str(",TTTTTTTTTTTTTT").b, "/a", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OscMessage m;
    ASSERT_EQ(osc_parse(c.d.data(), c.d.size(), &m), OscError::ok);
    EXPECT_STREQ(m.address, c.address);
    EXPECT_EQ(m.arg_count, c.args);
    EXPECT_EQ(m.string_count, c.strings);
    for (int i = 0; i < m.string_count; i++) EXPECT_LT(std::strlen(m.strings[i]), 64u);
  }
  OscMessage m;
  Bytes d = Builder().str("/a").str(",s").str(std::string(100, 'q')).b;
  osc_parse(d.data(), d.size(), &m);
  EXPECT_EQ(std::string(m.strings[0]), std::string(63, 'q'));
}

TEST(OscParse, HostileDatagramsGetTheirError) {
  struct Case {
    const char* name;
    Bytes d;
    OscError error;
  };
  std::string a96 = "/" + std::string(95, 'x');
  std::vector<Case> cases = {
      {"empty", {}, OscError::empty},
      {"three bytes", bytes({'/', 'a', 0}), OscError::unaligned},
      {"one byte too many", Builder().str("/xinfo").raw("\x01").b, OscError::unaligned},
      {"no slash", Builder().str("xinfo").b, OscError::no_address},
      {"binary junk", bytes({0xFF, 0xFE, 0, 0}), OscError::no_address},
      {"address without NUL", Builder().raw("/abcdefg").b, OscError::address_unterminated},
      {"address of 96 characters", Builder().str(a96).str(",").b, OscError::address_too_long},
      {"unterminated address longer than 96", Builder().raw("/" + std::string(103, 'x')).b,
       OscError::address_too_long},
      {"type tag without NUL", Builder().str("/a").raw(",fff").b, OscError::tags_unterminated},
      {"type tag of 16", Builder().str("/a").str("," + std::string(15, 'T')).b,
       OscError::tags_too_long},
      {"float missing", Builder().str("/a").str(",f").b, OscError::arg_truncated},
      {"second int missing", Builder().str("/a").str(",ii").u32(1).b, OscError::arg_truncated},
      {"string missing", Builder().str("/a").str(",s").b, OscError::string_unterminated},
      {"string runs to the end", Builder().str("/a").str(",s").raw("abcdefgh").b,
       OscError::string_unterminated},
      {"blob size missing", Builder().str("/a").str(",b").b, OscError::blob_truncated},
      {"blob larger than the rest", Builder().str("/a").str(",b").u32(9).raw("12345678").b,
       OscError::blob_too_large},
      {"blob size 0x7FFFFFFF", Builder().str("/a").str(",b").u32(0x7FFFFFFF).b,
       OscError::blob_too_large},
      {"blob size negative", Builder().str("/a").str(",bf").u32(0xFFFFFFFC).f32(1).b,
       OscError::blob_too_large},
      {"valid blob then short float", Builder().str("/a").str(",bf").u32(4).raw("abcd").b,
       OscError::arg_truncated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OscMessage m;
    std::memset(&m, 0x5A, sizeof m);
    EXPECT_EQ(osc_parse(c.d.data(), c.d.size(), &m), c.error) << osc_error_text(c.error);
    EXPECT_LT(std::strlen(m.address), sizeof m.address);
    EXPECT_EQ(m.arg_count <= kOscMaxArgs, true);
  }
  OscMessage m;
  EXPECT_EQ(osc_parse(nullptr, 4, &m), OscError::empty);
}

TEST(OscParse, NonFiniteFloatsAreParsedAsTheyCame) {
  // The parser keeps the value; the callers refuse it (see the driver's value tests).
  Bytes d = Builder().str("/headamp/000/gain").str(",f").u32(0x7FC00000).b;
  OscMessage m;
  ASSERT_EQ(osc_parse(d.data(), d.size(), &m), OscError::ok);
  double v = 0;
  char tag = 0;
  ASSERT_TRUE(osc_first_number(m, &v, &tag));
  EXPECT_EQ(tag, 'f');
  EXPECT_TRUE(std::isnan(v));
}

TEST(OscParse, RoundTripsWhatItEncodes) {
  uint8_t out[128];
  OscMessage m;
  for (float f : {0.0f, 1.0f, 12.0f / 72.0f, 0.5f}) {
    size_t n = osc_encode_float("/headamp/045/gain", f, out, sizeof out);
    ASSERT_EQ(osc_parse(out, n, &m), OscError::ok);
    EXPECT_STREQ(m.address, "/headamp/045/gain");
    EXPECT_EQ(m.arg_value[0], double(f));
  }
  for (int32_t i : {0, 1, -1, 2147483647, -2147483647 - 1}) {
    size_t n = osc_encode_int("/headamp/000/phantom", i, out, sizeof out);
    ASSERT_EQ(osc_parse(out, n, &m), OscError::ok);
    EXPECT_EQ(m.arg_value[0], double(i));
  }
}

// A bounded fuzz run: mutated valid datagrams and random bytes must never read outside the
// buffer (the sanitizers watch) and must always leave terminated texts and sane counts.
TEST(OscParse, FuzzedDatagramsStayInBounds) {
  std::mt19937 rng(20261210);
  std::vector<Bytes> seeds = {
      Builder().str("/xinfo").str(",ssss").str("10.0.0.1").str("name").str("X32").str("4.0").b,
      Builder().str("/headamp/012/gain").str(",f").f32(0.5f).b,
      Builder()
          .str("/a")
          .str(",bsi")
          .u32(6)
          .raw("abcdef")
          .raw(std::string(2, '\0'))
          .str("x")
          .u32(1)
          .b,
  };
  int ok = 0, bad = 0;
  for (int round = 0; round < 200000; round++) {
    Bytes d = seeds[round % seeds.size()];
    int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; e++) {
      switch (rng() % 4) {
        case 0:
          if (!d.empty()) d[rng() % d.size()] = uint8_t(rng());
          break;
        case 1: d.resize(rng() % (d.size() + 8)); break;
        case 2: d.insert(d.begin() + long(rng() % (d.size() + 1)), uint8_t(rng())); break;
        default:
          if (!d.empty()) d[rng() % d.size()] ^= uint8_t(1u << (rng() % 8));
          break;
      }
    }
    // Exact-size heap copy so that ASan catches any read past the end.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[d.size() + 1]);
    if (!d.empty()) std::memcpy(exact.get(), d.data(), d.size());
    OscMessage m;
    OscError e = osc_parse(d.empty() ? nullptr : exact.get(), d.size(), &m);
    (e == OscError::ok ? ok : bad)++;
    ASSERT_LT(std::strlen(m.address), sizeof m.address);
    ASSERT_LT(strnlen(m.type_tags, sizeof m.type_tags), sizeof m.type_tags);
    ASSERT_GE(m.arg_count, 0);
    ASSERT_LE(m.arg_count, kOscMaxArgs);
    ASSERT_LE(m.string_count, kOscMaxStrings);
    if (e == OscError::ok) {
      ASSERT_EQ(m.address[0], '/');
    }
  }
  // Both outcomes must have been exercised for the run to mean anything.
  EXPECT_GT(ok, 1000);
  EXPECT_GT(bad, 1000);
}

}  // namespace
}  // namespace ks
