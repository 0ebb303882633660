// Base64 (RFC 4648, standard alphabet) decoding for the release manifest and signed trailers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace ks::tray {

// The general decoder. Blanks (space, tab, line feed, carriage return) are skipped anywhere; at
// most two "=" and no data character after one; a missing "=" is tolerated, a dangling single
// character of a quantum is not. `out` is cleared first; an empty text decodes to nothing.
bool base64_decode(std::string_view text, std::vector<uint8_t>& out);

// The signature trailer's strict decoder: stops at the first "=", allows only the alphabet
// before it (a blank fails), and succeeds only with exactly `size` output bytes.
bool base64_decode_exact(std::string_view text, uint8_t* out, size_t size);

}  // namespace ks::tray
