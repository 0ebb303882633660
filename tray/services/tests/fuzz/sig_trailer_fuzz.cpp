// The signed-trailer check on any bytes: a signed length, when there is one, lies inside the
// file and ends with the marker's line feed; random bytes are never taken as signed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tests/support/fuzz_check.h"
#include "tray/services/sig_trailer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks::tray;
  // A fixed key: with no private key for it, nothing the fuzzer writes may verify.
  static const uint8_t key[32] = {0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe,
                                  0xd3, 0xc9, 0x64, 0x07, 0x3a, 0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6,
                                  0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};
  size_t signed_length = size + 1;
  const bool ok = verify_sig_trailer_with_key(data, size, key, &signed_length);
  KS_FUZZ_CHECK(!ok);
  // The product's own key: the same bounds whatever the answer.
  signed_length = size + 1;
  if (verify_sig_trailer(data, size, &signed_length)) {
    // The signed bytes end with the line feed that opens the marker.
    KS_FUZZ_CHECK(signed_length >= 1 && signed_length - 1 + SignatureTrailer::kMarkerSize <= size);
    KS_FUZZ_CHECK(std::memcmp(data + signed_length - 1, SignatureTrailer::kMarker,
                              SignatureTrailer::kMarkerSize) == 0);
  }
  return 0;
}
