// The "kestrune:" block the loader appends to Waves' chunk text when LV1 saves a session, so the
// console's preamp values travel in LV1's session and scene files:
//
//   kestrune:
//     gain: [64 x "%.2f" dB, separated by ", "]
//     phantom: [64 x 0/1]
//     preamp: [64 x 0/1]
//
// Every line ends with "\n". Numbers are written and read here by hand, never through the C
// library, so a comma-decimal locale in LV1's process cannot change a stored session. A block
// starts at the beginning of the text or of a line; it runs over the indented lines that follow.
// Everything here is bounded, allocation-free except where a std::string is filled, and never
// throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shared/records.h"

namespace ks {

inline constexpr char kChunkBlockTag[] = "kestrune:";
// No preamp gain comes near this; a stored gain beyond it (or not finite) is damage and is
// never written to or taken from a session.
inline constexpr double kChunkGainLimit = 200.0;
// Room for the longest block format_chunk_block writes, with its NUL.
inline constexpr size_t kChunkBlockMax = 1024;

// A block as read back from a chunk.
struct ParsedChunkBlock {
  double gain[kChannels];
  uint32_t phantom[kChannels];  // 0/1
  uint32_t preamp[kChannels];   // 0/1: only channels with 1 may be applied
  bool found;                   // the text holds a "kestrune:" block, complete or not
  bool present;                 // the block is complete: its values may be applied
  uint32_t dropped;             // channels marked with a preamp whose stored gain is out of range:
                                // their preamp flag is cleared so nobody applies them
  const char* problem;          // why a found block is not present (static text), else null
};

// The text of a chunk pointer from LV1 or Waves: null counts as empty.
inline std::string_view chunk_text(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// Writes the block into out (cap bytes, at least kChunkBlockMax) and returns its length, or 0 when
// cap is too small. A null array writes 0.00 / 0 for every channel. A channel whose gain is not
// finite or beyond kChunkGainLimit is written as 0.00 with preamp 0, so it is never recalled.
size_t format_chunk_block(const double* gain, const uint8_t* phantom, const uint32_t* preamp,
                          char* out, size_t cap);

// Waves' own text: the chunk with every "kestrune:" block taken out (the text around a block is
// kept as it stands). false only when memory ran out; out is then empty.
bool strip_chunk_block(std::string_view text, std::string& out) noexcept;

// Reads the first "kestrune:" block of the chunk.
void parse_chunk_block(std::string_view text, ParsedChunkBlock& out);

// The list after key within one block: the '[' must follow the key on its line and the ']' close
// it on the same line; numbers are separated by runs of ',' and ' '. Reads at most 64 numbers,
// stopping at anything that is not a decimal number ("nan", "inf", "1e5", garbage). Values are
// rounded to hundredths; a number too large to hold gives +-infinity. A number must be followed
// by a separator or the ']'. True when 64 were read.
bool parse_chunk_list(std::string_view block, std::string_view key, double out[kChannels]);

// What get_chunk hands LV1 for the live card: Waves' text (without any block it may carry),
// then "\n" when that text is not empty and does not end with one, then the block.
// false only when memory ran out; out is then empty.
bool compose_saved_chunk(std::string_view waves_text, std::string_view block,
                         std::string& out) noexcept;

}  // namespace ks
