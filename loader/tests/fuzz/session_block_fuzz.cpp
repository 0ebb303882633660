// The "kestrune:" block in LV1's session chunks, on any chunk text: what is read is safe to
// apply, Waves' text is kept as it stands, and a block the loader writes reads back the same.
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "loader/session_block.h"
#include "tests/support/fuzz_check.h"

using namespace ks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ParsedChunkBlock p;
  parse_chunk_block(text, p);
  if (p.present) KS_FUZZ_CHECK(p.found && !p.problem);
  for (size_t ch = 0; ch < kChannels; ++ch) {
    KS_FUZZ_CHECK(p.phantom[ch] <= 1 && p.preamp[ch] <= 1);
    if (p.present && p.preamp[ch])
      KS_FUZZ_CHECK(std::isfinite(p.gain[ch]) && std::fabs(p.gain[ch]) <= kChunkGainLimit);
  }

  // Waves' text: taking the blocks out twice is taking them out once, and none is left.
  std::string waves;
  KS_FUZZ_CHECK(strip_chunk_block(text, waves));
  std::string again;
  KS_FUZZ_CHECK(strip_chunk_block(waves, again) && again == waves);
  ParsedChunkBlock none;
  parse_chunk_block(waves, none);
  KS_FUZZ_CHECK(!none.found);

  // What was read, written again after Waves' text, reads back value for value.
  if (!p.present) return 0;
  uint8_t phantom[kChannels];
  for (size_t ch = 0; ch < kChannels; ++ch) phantom[ch] = uint8_t(p.phantom[ch]);
  char block[kChunkBlockMax];
  size_t n = format_chunk_block(p.gain, phantom, p.preamp, block, sizeof block);
  KS_FUZZ_CHECK(n > 0 && n < sizeof block);
  std::string saved;
  KS_FUZZ_CHECK(compose_saved_chunk(waves, std::string_view(block, n), saved));
  ParsedChunkBlock q;
  parse_chunk_block(saved, q);
  KS_FUZZ_CHECK(q.present);
  for (size_t ch = 0; ch < kChannels; ++ch) {
    KS_FUZZ_CHECK(q.phantom[ch] == p.phantom[ch] && q.preamp[ch] == p.preamp[ch]);
    if (p.preamp[ch]) KS_FUZZ_CHECK(q.gain[ch] == p.gain[ch]);
  }
  std::string back;
  KS_FUZZ_CHECK(strip_chunk_block(saved, back));
  KS_FUZZ_CHECK(back == waves || back == waves + "\n");
  return 0;
}
