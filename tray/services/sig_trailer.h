// A text file signed in its own last line:
//   ...body...\n# sig ed25519 <key label> <Base64 of the 64-byte Ed25519 signature>[\r][\n]
// The signed bytes run from the file's first byte up to and including the marker's line feed;
// the last marker in the file counts, and the label is not compared with anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks::tray {

struct SignatureTrailer {
  static constexpr char kMarker[] = "\n# sig ed25519 ";
  static constexpr size_t kMarkerSize = sizeof kMarker - 1;  // 15
  static constexpr size_t kMaxSignatureText = 127;           // Base64 bytes read at most
};

// True when the file ends in a valid trailer signed with the profiles key; `signed_length`
// (when given) receives the number of signed bytes, so the caller parses only those.
bool verify_sig_trailer(const uint8_t* bytes, size_t length, size_t* signed_length);

// The same check against a given public key.
bool verify_sig_trailer_with_key(const uint8_t* bytes, size_t length, const uint8_t key[32],
                                 size_t* signed_length);

}  // namespace ks::tray
