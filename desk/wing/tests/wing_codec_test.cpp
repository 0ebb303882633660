// Frame writers, escaping and value decoding, checked against byte vectors worked out by hand.
#include "desk/wing/wing_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace ks {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const NodeFrame& f) { return Bytes(f.bytes, f.bytes + f.fill); }

Bytes path(const char* bank, int n, const char* leaf) {
  NodeFrame f;
  frame_reset(f);
  frame_put_path(f, bank, n, leaf);
  return bytes_of(f);
}

const Bytes kLcl1G = {0xDF, 0xD1, 0xDA, 0xC1, 0x69, 0x6F, 0xC1, 0x69,
                      0x6E, 0xC2, 0x4C, 0x43, 0x4C, 0x40, 0xC0, 0x67};

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(WingFrames, GoldenRequests) {
  NodeFrame f;

  frame_reset(f);
  frame_put_path(f, "LCL", 1, "g");
  frame_put_byte(f, kDataRequest);
  EXPECT_EQ(bytes_of(f), cat(kLcl1G, {0xDC})) << "leaf read (also the keep-alive)";

  frame_reset(f);
  frame_put_path(f, "LCL", 1, "g");
  frame_put_float(f, 0.0f);
  EXPECT_EQ(bytes_of(f), cat(kLcl1G, {0xD5, 0, 0, 0, 0})) << "gain write of 0 dB";

  frame_reset(f);
  frame_put_path(f, "LCL", 1, nullptr);
  frame_put_byte(f, kDataRequest);
  EXPECT_EQ(bytes_of(f), cat(Bytes(kLcl1G.begin(), kLcl1G.end() - 2), {0xDC})) << "whole node";

  frame_reset(f);
  frame_put_path(f, "LCL", 1, "g");
  frame_put_byte(f, kDefinitionRequest);
  EXPECT_EQ(bytes_of(f), cat(kLcl1G, {0xDD})) << "definition read";

  frame_reset(f);
  frame_put_path(f, "A", 65, "vph");
  frame_put_byte(f, kDataRequest);
  EXPECT_EQ(bytes_of(f), (Bytes{0xDF, 0xD1, 0xDA, 0xC1, 0x69, 0x6F, 0xC1, 0x69, 0x6E, 0xC0, 0x41,
                                0xD2, 0x00, 0x40, 0xC2, 0x76, 0x70, 0x68, 0xDC}));

  frame_reset(f);
  frame_put_path(f, "LCL", 1, "mode");
  frame_put_text(f, "ST");
  Bytes mode = Bytes(kLcl1G.begin(), kLcl1G.end() - 2);
  EXPECT_EQ(bytes_of(f), cat(mode, {0xC3, 0x6D, 0x6F, 0x64, 0x65, 0x81, 0x53, 0x54}));
  EXPECT_FALSE(f.overflow);
}

TEST(WingFrames, BankWordsAndIndexes) {
  // Five bank words travel under another node name, compared without case.
  struct Case {
    const char* bank;
    Bytes wire;
  };
  const Case cases[] = {
      {"bus", {0xC3, '$', 'B', 'U', 'S'}},  {"MAIN", {0xC4, '$', 'M', 'A', 'I', 'N'}},
      {"Mtx", {0xC3, '$', 'M', 'T', 'X'}},  {"send", {0xC4, '$', 'S', 'E', 'N', 'D'}},
      {"MON", {0xC3, '$', 'M', 'O', 'N'}},  {"LCL", {0xC2, 'L', 'C', 'L'}},
      {"BUSX", {0xC3, 'B', 'U', 'S', 'X'}},
  };
  for (const Case& c : cases) {
    Bytes p = path(c.bank, 1, nullptr);
    EXPECT_EQ(Bytes(p.begin() + 9, p.end() - 1), c.wire) << c.bank;
  }

  struct Index {
    int n;
    Bytes wire;
  };
  const Index idx[] = {{1, {0x40}},
                       {64, {0x7F}},
                       {65, {0xD2, 0x00, 0x40}},
                       {300, {0xD2, 0x01, 0x2B}},
                       {0, {0xD2, 0xFF, 0xFF}}};
  for (const Index& c : idx) {
    NodeFrame f;
    frame_reset(f);
    frame_put_index(f, c.n);
    EXPECT_EQ(bytes_of(f), c.wire) << c.n;
  }
}

TEST(WingFrames, TextAndNameLimits) {
  NodeFrame f;
  frame_reset(f);
  frame_put_string(f, "abcdefghijklmnopqrstu");  // 21 characters: cut to 16
  ASSERT_EQ(f.fill, 17u);
  EXPECT_EQ(f.bytes[0], 0xCF);
  EXPECT_EQ(f.bytes[16], 'p');

  frame_reset(f);
  frame_put_string(f, "");
  EXPECT_EQ(f.fill, 0u) << "an empty node name writes nothing";

  frame_reset(f);
  frame_put_text(f, "");
  EXPECT_EQ(bytes_of(f), Bytes{0xD0});

  std::string long_text(70, 'x');
  frame_reset(f);
  frame_put_text(f, long_text.c_str());
  ASSERT_EQ(f.fill, 65u);
  EXPECT_EQ(f.bytes[0], 0xBF);
}

TEST(WingFrames, DataByteDfIsEscapedMarkersAreNot) {
  NodeFrame f;
  frame_reset(f);
  uint32_t bits = 0x3F8000DF;
  float x;
  std::memcpy(&x, &bits, 4);
  frame_put_marker(f, kControlChannel);
  frame_put_float(f, x);
  EXPECT_EQ(bytes_of(f), (Bytes{0xDF, 0xD1, 0xD5, 0x3F, 0x80, 0x00, 0xDF, 0xDE}));

  frame_reset(f);
  frame_put_text(f, "\xDF\xDF");
  EXPECT_EQ(bytes_of(f), (Bytes{0x81, 0xDF, 0xDE, 0xDF, 0xDE}));
}

TEST(WingFrames, FullFrameDropsAndFlagsOverflow) {
  NodeFrame f;
  frame_reset(f);
  for (int i = 0; i < 255; ++i) frame_put_byte(f, 0x01);
  EXPECT_FALSE(f.overflow);
  frame_put_byte(f, 0xDF);  // an escaped pair does not fit into the last byte
  EXPECT_EQ(f.fill, 255u);
  EXPECT_TRUE(f.overflow);
  frame_put_byte(f, 0x02);
  EXPECT_EQ(f.fill, 256u);
  frame_put_byte(f, 0x03);
  EXPECT_EQ(f.fill, 256u);
}

Bytes unescape_all(const Bytes& in, Unescaper& u) {
  Bytes out(in.size() * 2 + 2);
  size_t used = 0;
  size_t n = u.run(in.data(), in.size(), out.data(), out.size(), &used);
  EXPECT_EQ(used, in.size());
  out.resize(n);
  return out;
}

TEST(WingUnescape, Table) {
  struct Case {
    Bytes wire;
    Bytes data;
    bool escape_after;
  };
  const Case cases[] = {
      {{0xDF, 0xDE}, {0xDF}, false},
      {{0x01, 0xDF, 0xD3, 0x02}, {0x01, 0x02}, false},  // channel marker between tokens
      {{0xDF, 0xD1, 0xDA}, {0xDA}, false},
      {{0xDF, 0xDD}, {}, false},
      {{0xDF, 0xD0}, {}, false},
      {{0xDF, 0x41}, {0xDF, 0x41}, false},  // not a marker: both bytes kept
      {{0xDF, 0xE5}, {0xDF, 0xE5}, false},
      {{0xDF, 0xDF, 0xDE}, {0xDF, 0xDF}, false},
      {{0xDF, 0xDF}, {0xDF}, true},  // DF DF stays escaped
      {{0xDF}, {}, true},
  };
  for (const Case& c : cases) {
    Unescaper u;
    EXPECT_EQ(unescape_all(c.wire, u), c.data);
    EXPECT_EQ(u.in_escape, c.escape_after);
  }
}

TEST(WingUnescape, StateSurvivesChunkSplit) {
  Unescaper u;
  EXPECT_EQ(unescape_all({0x10, 0xDF}, u), Bytes{0x10});
  EXPECT_EQ(unescape_all({0xDE, 0x11}, u), (Bytes{0xDF, 0x11}));
}

TEST(WingUnescape, StopsWhenOutputIsFull) {
  Unescaper u;
  Bytes in = {0x01, 0xDF, 0x41, 0x02};
  uint8_t out[2];
  size_t used = 0;
  EXPECT_EQ(u.run(in.data(), in.size(), out, 2, &used), 1u);
  EXPECT_EQ(used, 2u) << "DF x needs two bytes of room";
  EXPECT_TRUE(u.in_escape);
}

// A writer's output read back through the un-escaper, cut into random chunks, is the data.
TEST(WingUnescape, RoundTripUnderRandomChunks) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    Bytes data(1 + rng() % 200);
    for (auto& b : data) b = (rng() % 4 == 0) ? 0xDF : uint8_t(rng());
    NodeFrame f;
    frame_reset(f);
    frame_put_marker(f, kControlChannel);
    size_t taken = 0;
    for (; taken < data.size() && f.fill < 250; ++taken) frame_put_byte(f, data[taken]);
    data.resize(taken);
    Bytes wire = bytes_of(f);

    Unescaper u;
    Bytes got;
    size_t pos = 0;
    while (pos < wire.size()) {
      size_t len = 1 + rng() % 7;
      if (len > wire.size() - pos) len = wire.size() - pos;
      Bytes part(wire.begin() + pos, wire.begin() + pos + len);
      Bytes out = unescape_all(part, u);
      got.insert(got.end(), out.begin(), out.end());
      pos += len;
    }
    ASSERT_EQ(got, data) << "round " << round;
  }
}

TEST(WingTokens, LengthTable) {
  struct Case {
    Bytes b;
    TokenScan s;
    size_t len;
  };
  const Case cases[] = {
      {{0x00}, TokenScan::kComplete, 1},
      {{0x3F}, TokenScan::kComplete, 1},
      {{0x7F}, TokenScan::kComplete, 1},
      {{0x80, 'a'}, TokenScan::kComplete, 2},
      {{0xBF}, TokenScan::kNeedMore, 65},
      {{0xC0, 'g'}, TokenScan::kComplete, 2},
      {{0xCF}, TokenScan::kNeedMore, 17},
      {{0xD0}, TokenScan::kComplete, 1},
      {{0xD1}, TokenScan::kNeedMore, 0},
      {{0xD1, 0x02, 'a', 'b', 'c'}, TokenScan::kComplete, 5},
      {{0xD1, 0xFF}, TokenScan::kNeedMore, 258},
      {{0xD2, 0, 0x40}, TokenScan::kComplete, 3},
      {{0xD3, 0}, TokenScan::kNeedMore, 3},
      {{0xD4, 0, 0, 0, 1}, TokenScan::kComplete, 5},
      {{0xD5, 0, 0, 0, 0}, TokenScan::kComplete, 5},
      {{0xD6, 0, 0, 0, 0}, TokenScan::kComplete, 5},
      {{0xD7, 1, 2, 3, 4, 0x01}, TokenScan::kComplete, 6},
      {{0xD7, 1, 2, 3, 4, 0xD5, 0}, TokenScan::kNeedMore, 10},
      {{0xD7, 1, 2, 3}, TokenScan::kNeedMore, 0},
      {{0xD7, 1, 2, 3, 4, 0xE0}, TokenScan::kUnknown, 0},
      {{0xD7, 1, 2, 3, 4, 0xD7, 5, 6, 7, 8, 0x01}, TokenScan::kComplete, 11},
      {{0xD8}, TokenScan::kComplete, 1},
      {{0xD9, 7}, TokenScan::kComplete, 2},
      {{0xDA}, TokenScan::kComplete, 1},
      {{0xDB}, TokenScan::kComplete, 1},
      {{0xDC}, TokenScan::kComplete, 1},
      {{0xDD}, TokenScan::kComplete, 1},
      {{0xDE}, TokenScan::kComplete, 1},
      {{0xDF, 0x00, 0x02, 1, 2}, TokenScan::kComplete, 5},
      {{0xDF, 0x01}, TokenScan::kNeedMore, 0},
      {{0xDF, 0xFF, 0xFF}, TokenScan::kNeedMore, 65538},
      // Long form: the 16-bit length is 0 and a 32-bit length follows.
      {{0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 1, 2}, TokenScan::kComplete, 9},
      {{0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, TokenScan::kComplete, 7},
      {{0xDF, 0x00, 0x00, 0x00, 0x01}, TokenScan::kNeedMore, 0},
      {{0xDF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, TokenScan::kNeedMore, 65543},
      {{0xDF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, TokenScan::kNeedMore, size_t(0xFFFFFFFFu) + 7},
      {{0xD7, 1, 2, 3, 4, 0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 9}, TokenScan::kComplete, 13},
      {{0xE0}, TokenScan::kUnknown, 0},
      {{0xFF}, TokenScan::kUnknown, 0},
  };
  for (const Case& c : cases) {
    size_t len = 99;
    EXPECT_EQ(token_length(c.b.data(), c.b.size(), &len), c.s) << int(c.b[0]) << "/" << c.b.size();
    EXPECT_EQ(len, c.len) << int(c.b[0]) << "/" << c.b.size();
  }
}

TEST(WingTokens, DeepNodeChainIsWalkedWithoutRecursion) {
  Bytes chain;
  for (int i = 0; i < 20000; ++i) chain.insert(chain.end(), {0xD7, 0, 0, 0, 1});
  size_t len = 0;
  EXPECT_EQ(token_length(chain.data(), chain.size(), &len), TokenScan::kNeedMore);
  chain.push_back(0x05);
  EXPECT_EQ(token_length(chain.data(), chain.size(), &len), TokenScan::kComplete);
  EXPECT_EQ(len, chain.size());
}

TEST(WingDecode, Values) {
  struct Case {
    Bytes b;
    bool ok;
    double v;
    uint8_t flag;
  };
  const Case cases[] = {
      {{0xD5, 0x41, 0x20, 0x00, 0x00}, true, 10.0, 1},
      {{0xD5, 0x00, 0x00, 0x00, 0x00}, true, 0.0, 0},
      {{0xD5, 0xC1, 0x20, 0x00, 0x00}, true, -10.0, 1},
      {{0xD4, 0xFF, 0xFF, 0xFF, 0xFE}, true, -2.0, 1},
      {{0xD3, 0x80, 0x00}, true, -32768.0, 1},
      {{0xD3, 0x00, 0x00}, true, 0.0, 0},
      {{0x00}, true, 0.0, 0},
      {{0x01}, true, 1.0, 1},
      {{0x02}, true, 2.0, 1},
      {{0x3F}, true, 63.0, 1},
      {{0x84, 'h', 'e', 'l', 'l', 'o', 0x01}, true, 1.0, 1},  // skips a whole non-numeric token
      {{0x85, 'h', 'e', 'l', 'l', 'o', 0x01}, false, 0, 0},   // ... the 0x01 is the string's
      {{0xD5, 0x41, 0x48}, false, 0, 0},                      // truncated float
      {{0xD4, 0x00, 0x00, 0x05}, false, 0, 0},                // cut D4: its bytes are no value
      // Nothing inside another token's payload is a value.
      {{0xD6, 0x3F, 0x80, 0x00, 0x00}, false, 0, 0},         // raw float: skipped, not 63
      {{0xD6, 0x3F, 0x80, 0x00, 0x00, 0x05}, true, 5.0, 1},  // ... whole, so the next token reads
      {{0x81, 'A', '1'}, false, 0, 0},                       // string "A1", not 49
      {{0xC1, 'i', 'n', 0x02}, true, 2.0, 1},
      {{0xDF, 0x00, 0x02, 0x07, 0x08}, false, 0, 0},  // block payload
      {{0xDF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x07}, false, 0, 0},
      {{0xD7, 0x00, 0x00, 0x00, 0x09, 0x01}, false, 0, 0},  // a nested item is no value
      {{0xD9, 0x03}, false, 0, 0},
      {{0xE5, 0x01}, false, 0, 0},  // unknown token ends the walk
      {{0x85, 'h', 'e', 'l', 'l', 'o'}, false, 0, 0},
      {{0xD5, 0x7F, 0xC0, 0x00, 0x00}, false, 0, 0},  // NaN is no value
      {{0xD5, 0x7F, 0x80, 0x00, 0x00}, false, 0, 0},  // infinity neither
      {{}, false, 0, 0},
  };
  for (const Case& c : cases) {
    double v = -99;
    uint8_t flag = 9;
    bool ok = decode_value(c.b.data(), c.b.size(), &v, &flag);
    ASSERT_EQ(ok, c.ok) << testing::PrintToString(c.b);
    if (ok) {
      EXPECT_EQ(v, c.v) << testing::PrintToString(c.b);
      EXPECT_EQ(flag, c.flag) << testing::PrintToString(c.b);
    }
  }
  EXPECT_TRUE(decode_value(Bytes{0x01}.data(), 1, nullptr, nullptr));
}

TEST(WingDecode, Texts) {
  struct Case {
    Bytes b;
    size_t cap;
    bool ok;
    const char* text;
  };
  const Case cases[] = {
      {{0xD0}, 8, true, ""},
      {{0x81, 'S', 'T'}, 8, true, "ST"},
      {{0x81, 'S', 'T'}, 2, true, "S"},
      {{0x81, 'S'}, 8, false, ""},
      {{0xD1, 0x01, 'a', 'b'}, 8, true, "ab"},
      {{0xD1, 0x05, 'a', 'b'}, 8, false, ""},
      {{0xD1}, 8, false, ""},
      {{0xD5, 0, 0, 0, 0}, 8, false, ""},
      {{0x01}, 8, false, ""},
  };
  for (const Case& c : cases) {
    char out[16] = "unchanged";
    bool ok = decode_text(c.b.data(), c.b.size(), out, c.cap);
    ASSERT_EQ(ok, c.ok) << testing::PrintToString(c.b);
    if (ok) {
      EXPECT_STREQ(out, c.text);
    }
  }
}

}  // namespace
}  // namespace ks
