// Paths to the fixtures the build writes for the tray services' tests, in the form this
// platform's file calls take (Unix paths reach Windows programs through drive Z:).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::tray::test {

std::string fixture_path(const std::string& name);  // a file in the build's fixture folder
std::string read_fixture(const std::string& name);  // its bytes; empty when missing

// Byte i of the cross-check pattern: ((i * 2654435761) >> 13) & 0xFF.
std::vector<uint8_t> crosscheck_pattern(size_t n);

// Standard Base64 with padding (the tests' own encoder, checked against Python's in the table).
std::string base64_encode(const uint8_t* data, size_t size);

}  // namespace ks::tray::test
