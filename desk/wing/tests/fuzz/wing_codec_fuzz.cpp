// The WING token table and value decoders on any bytes, and the escape rule both ways: what
// the frame writer escapes, the receive side gives back byte for byte.
#include <cmath>
#include <cstring>

#include "desk/wing/wing_codec.h"
#include "tests/support/fuzz_check.h"

using namespace ks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t len = 0;
  TokenScan t = token_length(data, size, &len);
  if (t == TokenScan::kComplete) KS_FUZZ_CHECK(len >= 1 && len <= size);

  double v = 0;
  uint8_t flag = 0;
  if (decode_value(data, size, &v, &flag)) KS_FUZZ_CHECK(std::isfinite(v));

  char text[17];
  std::memset(text, 'x', sizeof text);
  if (decode_text(data, size, text, sizeof text))
    KS_FUZZ_CHECK(std::memchr(text, '\0', sizeof text) != nullptr);

  // Un-escaping into a small buffer in pieces never writes past it nor takes more than given.
  Unescaper u;
  uint8_t out[64];
  size_t pos = 0;
  while (pos < size) {
    size_t used = 0;
    size_t wrote = u.run(data + pos, size - pos, out, sizeof out, &used);
    KS_FUZZ_CHECK(wrote <= sizeof out && used <= size - pos);
    if (used == 0) break;
    pos += used;
  }

  // Escape the bytes as data, un-escape them: the same bytes come back.
  NodeFrame f;
  frame_reset(f);
  size_t taken = 0;
  for (; taken < size && f.fill + 2 <= kNodeFrameCapacity; ++taken) frame_put_byte(f, data[taken]);
  KS_FUZZ_CHECK(!f.overflow);
  Unescaper back;
  uint8_t plain[kNodeFrameCapacity];
  size_t used = 0;
  size_t n = back.run(f.bytes, f.fill, plain, sizeof plain, &used);
  KS_FUZZ_CHECK(used == f.fill && n == taken && std::memcmp(plain, data, taken) == 0);
  return 0;
}
