// The session block: writing, stripping and reading it back, damaged and hostile chunks, and
// independence from the process's locale.
#include "loader/session_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace ks {
namespace {

struct Values {
  double gain[kChannels];
  uint8_t phantom[kChannels];
  uint32_t preamp[kChannels];
};

// A spread of real-looking values: negative, zero, two decimals, the limits.
Values sample_values() {
  Values v{};
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    v.gain[ch] = double(int(ch * 317 % 7300) - 1200) / 100.0;  // -12.00 .. 60.99
    v.phantom[ch] = ch % 3 == 0;
    v.preamp[ch] = ch % 5 != 4;
  }
  v.gain[0] = 0.0;
  v.gain[1] = -0.5;
  v.gain[2] = kChunkGainLimit;
  v.gain[3] = -kChunkGainLimit;
  v.gain[4] = 0.01;
  v.gain[63] = 45.25;
  return v;
}

std::string block_of(const Values& v) {
  char buf[kChunkBlockMax];
  size_t n = format_chunk_block(v.gain, v.phantom, v.preamp, buf, sizeof buf);
  EXPECT_GT(n, 0u);
  return std::string(buf, n);
}

// The numbers of one list line, split at ", ".
std::vector<std::string> list_items(const std::string& block, const std::string& key) {
  size_t at = block.find(key);
  size_t open = block.find('[', at);
  size_t close = block.find(']', open);
  std::vector<std::string> items;
  std::string body = block.substr(open + 1, close - open - 1);
  for (size_t from = 0;;) {
    size_t comma = body.find(", ", from);
    items.push_back(body.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 2;
  }
  return items;
}

TEST(SessionBlock, RoundTripsAllChannels) {
  Values v = sample_values();
  std::string block = block_of(v);

  ASSERT_EQ(block.rfind("kestrune:\n  gain: [0.00, -0.50, 200.00, -200.00, 0.01, ", 0), 0u)
      << block;
  ASSERT_EQ(block.back(), '\n');
  EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 4);
  EXPECT_EQ(list_items(block, "  gain: ").size(), 64u);
  EXPECT_EQ(list_items(block, "  phantom: ").size(), 64u);
  EXPECT_EQ(list_items(block, "  preamp: ").size(), 64u);

  std::string saved;
  ASSERT_TRUE(compose_saved_chunk("<waves state=\"1\"/>", block, saved));
  ParsedChunkBlock p;
  parse_chunk_block(saved, p);
  ASSERT_TRUE(p.present) << p.problem;
  EXPECT_EQ(p.dropped, 0u);
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    EXPECT_EQ(p.gain[ch], v.gain[ch]) << ch;
    EXPECT_EQ(p.phantom[ch], v.phantom[ch]) << ch;
    EXPECT_EQ(p.preamp[ch], v.preamp[ch]) << ch;
  }
  std::string waves;
  ASSERT_TRUE(strip_chunk_block(saved, waves));
  EXPECT_EQ(waves, "<waves state=\"1\"/>\n");
}

// Every hundredth from -200 to +200 is written exactly as the C library's "%.2f" writes it in the
// "C" locale, and reads back as the same double.
TEST(SessionBlock, NumbersMatchCLocaleFormatting) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  Values v{};
  for (int h = -20000; h <= 20000; h += 64) {
    for (uint32_t ch = 0; ch < kChannels; ++ch)
      v.gain[ch] = double(std::min(h + int(ch), 20000)) / 100.0;
    std::vector<std::string> items = list_items(block_of(v), "  gain: ");
    ASSERT_EQ(items.size(), 64u);
    for (uint32_t ch = 0; ch < kChannels; ++ch) {
      char want[32];
      std::snprintf(want, sizeof want, "%.2f", v.gain[ch]);
      ASSERT_EQ(items[ch], want) << "h=" << h + int(ch);
    }
    ParsedChunkBlock p;
    parse_chunk_block(block_of(v), p);
    ASSERT_TRUE(p.present);
    for (uint32_t ch = 0; ch < kChannels; ++ch)
      ASSERT_EQ(p.gain[ch], v.gain[ch]) << "h=" << h + int(ch);
  }
}

TEST(SessionBlock, WritesUnusableGainsAsNotRecallable) {
  Values v = sample_values();
  v.gain[10] = NAN;
  v.gain[11] = INFINITY;
  v.gain[12] = -INFINITY;
  v.gain[13] = 1e300;
  v.gain[14] = kChunkGainLimit + 0.01;
  v.phantom[20] = 7;  // any non-zero flag is stored as 1
  std::string block = block_of(v);
  std::vector<std::string> gains = list_items(block, "  gain: ");
  std::vector<std::string> pre = list_items(block, "  preamp: ");
  for (int ch = 10; ch <= 14; ++ch) {
    EXPECT_EQ(gains[ch], "0.00") << ch;
    EXPECT_EQ(pre[ch], "0") << ch << ": a damaged gain must never be recalled";
  }
  EXPECT_EQ(list_items(block, "  phantom: ")[20], "1");
  EXPECT_EQ(block.find("nan"), std::string::npos);
  EXPECT_EQ(block.find("inf"), std::string::npos);

  // A missing object writes zeros; a buffer too small writes nothing.
  char buf[kChunkBlockMax];
  ASSERT_GT(format_chunk_block(nullptr, nullptr, nullptr, buf, sizeof buf), 0u);
  for (const char* key : {"  gain: ", "  phantom: ", "  preamp: "})
    for (const std::string& item : list_items(buf, key))
      EXPECT_TRUE(item == "0.00" || item == "0") << item;
  EXPECT_EQ(format_chunk_block(v.gain, v.phantom, v.preamp, buf, kChunkBlockMax - 1), 0u);
  EXPECT_EQ(buf[0], '\0');
}

// One list of 64 numbers whose first item is the token under test.
double first_number(const std::string& token, bool* ok) {
  std::string list = "  gain: [" + token;
  for (int i = 1; i < 64; ++i) list += ", 0";
  list += "]";
  double out[kChannels];
  *ok = parse_chunk_list(list, "gain:", out);
  return out[0];
}

TEST(SessionBlock, ReadsDecimalNumbersByHand) {
  struct Case {
    const char* token;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"12.5", true, 12.5},
      {"-3.25", true, -3.25},
      {"+1", true, 1.0},
      {".5", true, 0.5},
      {"5.", true, 5.0},
      {"007.10", true, 7.1},
      {"0.125", true, 0.13},
      {"-0.125", true, -0.13},
      {"0.124999", true, 0.12},
      {"-0.004", true, 0.0},
      {"99999999999999999999", true, INFINITY},
      {"-99999999999999999999", true, -INFINITY},
      {"nan", false, 0},
      {"inf", false, 0},
      {"-", false, 0},
      {".", false, 0},
      {"1e5", false, 0},
      {"1,5", true, 1.0},  // "1" then "5": 65 numbers
      {"1.5.5", false, 0},
      {"12-3", false, 0},
      {"0x10", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    bool ok = false;
    double v = first_number(c.token, &ok);
    EXPECT_EQ(ok, c.ok) << "'" << c.token << "'";
    if (ok && c.ok) {
      EXPECT_EQ(v, c.value) << "'" << c.token << "'";
      EXPECT_FALSE(std::signbit(v) && v == 0.0) << "'" << c.token << "' reads as negative zero";
    }
  }
}

// A valid saved chunk, then one edit to it; what LV1's module and Waves get.
struct Damage {
  const char* name;
  std::function<std::string(std::string)> edit;
  bool found, present;
  std::string waves;  // what Waves must receive
};

std::string replace_first(std::string s, const std::string& from, const std::string& to) {
  size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

TEST(SessionBlock, DamagedChunks) {
  const std::string waves = "<waves>\n  <box id=\"3\"/>\n</waves>";
  Values v = sample_values();
  const std::string block = block_of(v);
  const std::string saved = waves + "\n" + block;
  const std::string waves_nl = waves + "\n";

  const Damage cases[] = {
      {"intact", [](std::string s) { return s; }, true, true, waves_nl},
      {"no block", [&](std::string) { return waves; }, false, false, waves},
      {"only the block", [&](std::string) { return block; }, true, true, ""},
      {"only the tag", [](std::string) { return std::string("kestrune:"); }, true, false, ""},
      {"cut inside the gain list", [&](std::string s) { return s.substr(0, waves.size() + 40); },
       true, false, waves_nl},
      {"cut before the preamp list", [](std::string s) { return s.substr(0, s.find("  preamp:")); },
       true, false, waves_nl},
      {"63 gains", [](std::string s) { return replace_first(s, "[0.00, -0.50, ", "[-0.50, "); },
       true, false, waves_nl},
      {"65 gains", [](std::string s) { return replace_first(s, "45.25]", "45.25, 99.00]"); }, true,
       true, waves_nl},
      {"nan gain", [](std::string s) { return replace_first(s, "-0.50", "nan"); }, true, false,
       waves_nl},
      {"inf gain", [](std::string s) { return replace_first(s, "-0.50", "inf"); }, true, false,
       waves_nl},
      {"exponent", [](std::string s) { return replace_first(s, "-0.50", "-5e-1"); }, true, false,
       waves_nl},
      {"missing phantom key",
       [](std::string s) { return replace_first(s, "phantom:", "phantasm:"); }, true, false,
       waves_nl},
      {"list on the next line",
       [](std::string s) { return replace_first(s, "preamp: [", "preamp:\n  ["); }, true, false,
       waves_nl},
      {"keys in another order",
       [&](std::string) {
         size_t g = block.find("  gain:"), p = block.find("  phantom:"),
                q = block.find("  preamp:");
         return waves + "\nkestrune:\n" + block.substr(q) + block.substr(p, q - p) +
                block.substr(g, p - g);
       },
       true, true, waves_nl},
      {"tag inside a Waves line",
       [&](std::string s) {
         return "<name>kestrune:</name>\n" + replace_first(s, "\nkestrune:", "\nKestrune:");
       },
       false, false, "<name>kestrune:</name>\n" + waves + "\nKestrune:\n" + block.substr(10)},
      {"block twice", [&](std::string s) { return s + block; }, true, true, waves_nl},
      {"block in the middle", [&](std::string s) { return s + "<tail/>\n"; }, true, true,
       waves_nl + "<tail/>\n"},
      {"CRLF line ends",
       [&](std::string s) {
         std::string out;
         for (char c : s) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return out;
       },
       true, true, "<waves>\r\n  <box id=\"3\"/>\r\n</waves>\r\n"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    std::string chunk = c.edit(saved);
    ParsedChunkBlock p;
    parse_chunk_block(chunk, p);
    EXPECT_EQ(p.found, c.found);
    EXPECT_EQ(p.present, c.present) << (p.problem ? p.problem : "");
    EXPECT_EQ(p.problem != nullptr, c.found && !c.present);
    if (p.present) {
      EXPECT_EQ(p.gain[63], 45.25);
      EXPECT_EQ(p.preamp[4], 0u);
      EXPECT_EQ(p.phantom[3], 1u);
    } else {
      for (uint32_t ch = 0; ch < kChannels; ++ch)
        ASSERT_EQ(p.preamp[ch], 0u) << "nothing may be applied";
    }
    std::string got;
    ASSERT_TRUE(strip_chunk_block(chunk, got));
    EXPECT_EQ(got, c.waves);
  }
}

TEST(SessionBlock, OutOfRangeStoredGainsAreDroppedPerChannel) {
  Values v = sample_values();
  std::string chunk = block_of(v);
  chunk = replace_first(chunk, "[0.00, -0.50, ", "[0.00, 500.00, ");               // ch 1, preamp 1
  chunk = replace_first(chunk, ", 0.01, ", ", 123456789012345678901234567890, ");  // ch 4, preamp 0
  ParsedChunkBlock p;
  parse_chunk_block(chunk, p);
  ASSERT_TRUE(p.present) << p.problem;
  EXPECT_EQ(p.dropped, 1u) << "only channels that would have been applied are counted";
  EXPECT_EQ(p.gain[1], 0.0);
  EXPECT_EQ(p.preamp[1], 0u);
  EXPECT_EQ(p.gain[4], 0.0);
  EXPECT_EQ(p.gain[63], 45.25);
  EXPECT_EQ(p.preamp[63], 1u);

  // Flags read any non-zero number as 1.
  chunk = replace_first(block_of(v), "phantom: [1, ", "phantom: [2, ");
  parse_chunk_block(chunk, p);
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.phantom[0], 1u);
}

TEST(SessionBlock, ComposeAddsOneNewlineAndReplacesAStaleBlock) {
  Values v = sample_values();
  std::string block = block_of(v);
  struct Case {
    std::string waves, want_prefix;
  };
  const Case cases[] = {
      {"", ""},
      {"<w/>", "<w/>\n"},
      {"<w/>\n", "<w/>\n"},
      {"<w/>\n" + block_of(Values{}),
       "<w/>\n"},  // Waves handed back an old block: it must not come first
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_TRUE(compose_saved_chunk(c.waves, block, out));
    EXPECT_EQ(out, c.want_prefix + block) << "'" << c.waves << "'";
    ParsedChunkBlock p;
    parse_chunk_block(out, p);
    ASSERT_TRUE(p.present);
    EXPECT_EQ(p.gain[63], 45.25);
  }
  std::string out;
  ASSERT_TRUE(strip_chunk_block(chunk_text(nullptr), out));
  EXPECT_EQ(out, "");
}

// LV1's process may run with a comma-decimal C library locale; the block must not notice.
TEST(SessionBlock, IgnoresTheProcessLocale) {
  struct BackToC {
    ~BackToC() { std::setlocale(LC_ALL, "C"); }
  } back_to_c;
  const char* set = nullptr;
  for (const char* name :
       {"German_Germany.1252", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if ((set = std::setlocale(LC_ALL, name)) != nullptr) break;
  }
#ifdef _WIN32
  ASSERT_NE(set, nullptr) << "a comma-decimal locale exists on Windows";
#else
  if (!set) GTEST_SKIP() << "no comma-decimal locale installed on this host";
#endif
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 1.5);
  EXPECT_STREQ(probe, "1,50") << "the locale really uses a decimal comma";

  Values v = sample_values();
  std::string block = block_of(v);
  ParsedChunkBlock p;
  parse_chunk_block(block, p);
  EXPECT_EQ(block.rfind("kestrune:\n  gain: [0.00, -0.50, 200.00, ", 0), 0u);
  ASSERT_TRUE(p.present);
  for (uint32_t ch = 0; ch < kChannels; ++ch) EXPECT_EQ(p.gain[ch], v.gain[ch]) << ch;
}

// Random edits of a saved chunk: nothing reads out of bounds (the sanitizers watch), a block that
// reads as present holds only values that may be applied, and Waves never sees a block.
TEST(SessionBlock, SurvivesRandomDamage) {
  const std::string saved = "<waves/>\n" + block_of(sample_values()) + "<tail/>";
  std::mt19937 rng(20261210);
  const char alphabet[] = "kestrune:gainphtompr[], .-0123456789\n\r ";
  for (int round = 0; round < 4000; ++round) {
    std::string chunk = saved;
    int edits = 1 + int(rng() % 6);
    for (int e = 0; e < edits && !chunk.empty(); ++e) {
      size_t at = rng() % chunk.size();
      switch (rng() % 3) {
        case 0: chunk[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
        case 1: chunk.erase(at, 1 + rng() % 8); break;
        default: chunk.resize(at); break;
      }
    }
    ParsedChunkBlock p;
    parse_chunk_block(chunk, p);
    if (p.present) {
      for (uint32_t ch = 0; ch < kChannels; ++ch) {
        ASSERT_TRUE(std::isfinite(p.gain[ch]) && std::fabs(p.gain[ch]) <= kChunkGainLimit) << chunk;
        ASSERT_LE(p.phantom[ch], 1u);
        ASSERT_LE(p.preamp[ch], 1u);
      }
    }
    std::string waves;
    ASSERT_TRUE(strip_chunk_block(chunk, waves));
    ParsedChunkBlock again;
    parse_chunk_block(waves, again);
    ASSERT_FALSE(again.found) << "stripped text still holds a block:\n" << waves;
  }

  // A huge chunk with a block cut off at its very end.
  std::string big(1 << 20, 'x');
  big += "\nkestrune:\n  gain: [1.00, 2.";
  ParsedChunkBlock p;
  parse_chunk_block(big, p);
  EXPECT_TRUE(p.found);
  EXPECT_FALSE(p.present);
  std::string waves;
  ASSERT_TRUE(strip_chunk_block(big, waves));
  EXPECT_EQ(waves.size(), (size_t(1) << 20) + 1);
}

}  // namespace
}  // namespace ks
