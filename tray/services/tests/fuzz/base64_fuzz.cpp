// Both Base64 decoders on any text: output never larger than the text allows, the strict decoder
// fills exactly what it is asked for or fails, and what it accepts the general decoder reads the
// same way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "tests/support/fuzz_check.h"
#include "tray/services/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks::tray;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<uint8_t> out;
  if (base64_decode(text, out))
    KS_FUZZ_CHECK(out.size() <= size / 4 * 3 + 2);
  else
    KS_FUZZ_CHECK(out.size() <= size);

  uint8_t sig[64];
  if (base64_decode_exact(text, sig, sizeof sig)) {
    // Accepted by the strict reader: the same bytes from the general one, up to the first "=".
    const std::string_view head = text.substr(0, text.find('='));
    std::vector<uint8_t> general;
    KS_FUZZ_CHECK(base64_decode(head, general));
    KS_FUZZ_CHECK(general.size() == sizeof sig &&
                  std::memcmp(general.data(), sig, sizeof sig) == 0);
  }
  return 0;
}
