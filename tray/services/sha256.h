// SHA-256 of a downloaded file, by the platform's hash service (BCryptHash on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ks::tray {

// 64 lower-case hexadecimal digits, or an empty text when the hash service fails (an empty text
// never matches an expected hash).
std::string sha256_hex(const uint8_t* data, size_t size);
std::string sha256_hex(std::string_view bytes);

// The hash service: one SHA-256 of the whole buffer; false when it fails. Windows builds get it
// from BCrypt (win/sha256.cpp). Nothing native ships, so the native build has none of its own:
// native tests that hash link ks_tray_services_testsupport, which holds a reference SHA-256.
bool platform_sha256(const uint8_t* data, size_t size, uint8_t digest[32]);

// Bytes as lower-case hexadecimal, high nibble first.
std::string hex_lower(const uint8_t* data, size_t size);

}  // namespace ks::tray
