#include "tray/services/sig_trailer.h"

#include <cstring>
#include <string_view>

#include "crypto/ed25519.h"
#include "tray/services/base64.h"
#include "tray/services/build_keys.h"

namespace ks::tray {

bool verify_sig_trailer_with_key(const uint8_t* bytes, size_t length, const uint8_t key[32],
                                 size_t* signed_length) {
  constexpr size_t kM = SignatureTrailer::kMarkerSize;
  if (!bytes || length < kM) return false;
  size_t marker = 0;
  bool found = false;
  for (size_t p = length - kM + 1; p-- > 0;) {
    if (std::memcmp(bytes + p, SignatureTrailer::kMarker, kM) == 0) {
      marker = p;
      found = true;
      break;
    }
  }
  if (!found) return false;
  size_t at = marker + kM;
  if (at >= length) return false;
  while (at < length && bytes[at] != ' ') ++at;  // the key label
  if (at >= length) return false;
  ++at;
  size_t end = at;
  while (end < length && end - at < SignatureTrailer::kMaxSignatureText && bytes[end] != '\r' &&
         bytes[end] != '\n')
    ++end;
  if (end == at) return false;
  uint8_t sig[64];
  std::string_view text(reinterpret_cast<const char*>(bytes + at), end - at);
  if (!base64_decode_exact(text, sig, sizeof sig)) return false;
  if (!ed25519_verify(sig, bytes, marker + 1, key)) return false;
  if (signed_length) *signed_length = marker + 1;
  return true;
}

bool verify_sig_trailer(const uint8_t* bytes, size_t length, size_t* signed_length) {
  return verify_sig_trailer_with_key(bytes, length, profiles_key(), signed_length);
}

}  // namespace ks::tray
