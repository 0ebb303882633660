// Writing, finding, stripping and reading the session block; see session_block.h.
#include "loader/session_block.h"

#include <cmath>
#include <cstring>
#include <new>

namespace ks {
namespace {

constexpr std::string_view kTag = kChunkBlockTag;

// Longest number written: "-200.00".
constexpr size_t kNumberMax = 7;
constexpr size_t kLongestBlock =
    kTag.size() + 1 + (9 + kChannels * kNumberMax + (kChannels - 1) * 2 + 2) +
    (12 + kChannels + (kChannels - 1) * 2 + 2) + (11 + kChannels + (kChannels - 1) * 2 + 2);
static_assert(kLongestBlock + 1 <= kChunkBlockMax);

bool starts_with(std::string_view text, size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// Where the first block at or after `from` begins: the tag at the start of the text or of a line.
size_t find_block(std::string_view text, size_t from) {
  while (from <= text.size()) {
    size_t at = text.find(kTag, from);
    if (at == std::string_view::npos) return at;
    if (at == 0 || text[at - 1] == '\n') return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

// Where the block that begins at `start` ends: past its tag line and the indented lines after it.
// Every line of ours is indented by two blanks, so a damaged or cut-off line of a block still goes
// with it, while text that follows a block unindented stays with Waves. The next tag line begins a
// block of its own.
size_t block_end(std::string_view text, size_t start) {
  size_t at = text.find('\n', start);
  if (at == std::string_view::npos) return text.size();
  ++at;
  while (at < text.size() && starts_with(text, at, "  ")) {
    size_t eol = text.find('\n', at);
    at = eol == std::string_view::npos ? text.size() : eol + 1;
  }
  return at;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number [+-]digits[.digits] (at least one digit) starting at pos, rounded half away
// from zero to hundredths. Never reads past end. Whole parts beyond 10^15 give +-infinity.
bool read_decimal(std::string_view text, size_t& pos, size_t end, double& value) {
  size_t p = pos;
  bool negative = false;
  if (p < end && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  uint64_t whole = 0;
  bool huge = false;
  size_t digits = 0;
  for (; p < end && is_digit(text[p]); ++p, ++digits) {
    if (whole >= 1000000000000000ull)
      huge = true;
    else
      whole = whole * 10 + uint64_t(text[p] - '0');
  }
  uint64_t hundredths = 0;
  size_t fraction = 0;
  bool round_up = false;
  if (p < end && text[p] == '.') {
    for (++p; p < end && is_digit(text[p]); ++p, ++digits, ++fraction) {
      if (fraction < 2)
        hundredths = hundredths * 10 + uint64_t(text[p] - '0');
      else if (fraction == 2)
        round_up = text[p] >= '5';
    }
  }
  if (digits == 0) return false;
  if (fraction == 1) hundredths *= 10;
  double magnitude =
      huge ? INFINITY : double(whole * 100 + hundredths + (round_up ? 1 : 0)) / 100.0;
  value = negative && magnitude != 0.0 ? -magnitude : magnitude;
  pos = p;
  return true;
}

// Writes hundredths h as [-]I.FF; returns the characters written (at most 21).
size_t put_hundredths(char* out, int64_t h) {
  char digits[24];
  size_t n = 0;
  bool negative = h < 0;
  uint64_t v = negative ? uint64_t(0) - uint64_t(h) : uint64_t(h);
  while (n < 3 || v != 0) {  // at least "0.00"
    if (n == 2) digits[n++] = '.';
    digits[n++] = char('0' + v % 10);
    v /= 10;
  }
  size_t len = 0;
  if (negative) out[len++] = '-';
  while (n > 0) out[len++] = digits[--n];
  return len;
}

bool usable_gain(double db) { return std::isfinite(db) && std::fabs(db) <= kChunkGainLimit; }

struct Writer {
  char* out;
  size_t len;
  void put(std::string_view s) {
    std::memcpy(out + len, s.data(), s.size());
    len += s.size();
  }
  void put_flags(std::string_view head, const uint8_t* flags) {
    put(head);
    for (uint32_t ch = 0; ch < kChannels; ++ch) {
      if (ch) put(", ");
      out[len++] = flags[ch] ? '1' : '0';
    }
    put("]\n");
  }
};

}  // namespace

size_t format_chunk_block(const double* gain, const uint8_t* phantom, const uint32_t* preamp,
                          char* out, size_t cap) {
  if (!out || cap < kChunkBlockMax) {
    if (out && cap) out[0] = '\0';
    return 0;
  }
  uint8_t ph[kChannels];
  uint8_t pre[kChannels];
  Writer w{out, 0};
  w.put(kTag);
  w.put("\n  gain: [");
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    double db = gain ? gain[ch] : 0.0;
    bool ok = usable_gain(db);
    if (ch) w.put(", ");
    w.len += put_hundredths(out + w.len, ok ? std::llround(db * 100.0) : 0);
    ph[ch] = phantom && phantom[ch] ? 1 : 0;
    pre[ch] = ok && preamp && preamp[ch] ? 1 : 0;
  }
  w.put("]\n");
  w.put_flags("  phantom: [", ph);
  w.put_flags("  preamp: [", pre);
  out[w.len] = '\0';
  return w.len;
}

bool strip_chunk_block(std::string_view text, std::string& out) noexcept {
  try {
    out.clear();
    size_t from = 0;
    for (size_t at = find_block(text, 0); at != std::string_view::npos;
         at = find_block(text, from)) {
      out.append(text, from, at - from);
      from = block_end(text, at);
    }
    out.append(text, from, std::string_view::npos);
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

bool parse_chunk_list(std::string_view block, std::string_view key, double out[kChannels]) {
  size_t at = block.find(key);
  if (at == std::string_view::npos) return false;
  at += key.size();
  while (at < block.size() && (block[at] == ' ' || block[at] == '\t')) ++at;
  if (at >= block.size() || block[at] != '[') return false;
  size_t end = block.find_first_of("]\n", at + 1);
  if (end == std::string_view::npos || block[end] != ']') return false;
  size_t pos = at + 1;
  while (pos < end && block[pos] == ' ') ++pos;
  uint32_t count = 0;
  while (count < kChannels && pos < end && read_decimal(block, pos, end, out[count])) {
    ++count;
    // A number must end at a separator: "1.5.5" or "12-3" is damage, not two numbers.
    if (pos < end && block[pos] != ',' && block[pos] != ' ') break;
    while (pos < end && (block[pos] == ',' || block[pos] == ' ')) ++pos;
  }
  return count == kChannels;
}

void parse_chunk_block(std::string_view text, ParsedChunkBlock& out) {
  std::memset(&out, 0, sizeof out);
  size_t start = find_block(text, 0);
  if (start == std::string_view::npos) return;
  out.found = true;
  std::string_view block = text.substr(start, block_end(text, start) - start);

  double phantom[kChannels];
  double preamp[kChannels];
  if (!parse_chunk_list(block, "gain:", out.gain)) {
    out.problem = "the gain list is incomplete or damaged";
  } else if (!parse_chunk_list(block, "phantom:", phantom)) {
    out.problem = "the phantom list is incomplete or damaged";
  } else if (!parse_chunk_list(block, "preamp:", preamp)) {
    out.problem = "the preamp list is incomplete or damaged";
  }
  if (out.problem) {
    std::memset(out.gain, 0, sizeof out.gain);
    return;
  }
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    out.phantom[ch] = phantom[ch] != 0.0 ? 1 : 0;
    out.preamp[ch] = preamp[ch] != 0.0 ? 1 : 0;
    if (!usable_gain(out.gain[ch])) {
      out.gain[ch] = 0.0;
      if (out.preamp[ch]) ++out.dropped;
      out.preamp[ch] = 0;
    }
  }
  out.present = true;
}

bool compose_saved_chunk(std::string_view waves_text, std::string_view block,
                         std::string& out) noexcept {
  if (!strip_chunk_block(waves_text, out)) return false;
  try {
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    out.append(block);
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

}  // namespace ks
