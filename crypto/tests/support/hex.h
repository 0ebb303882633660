// Hex text to bytes and back, for test vectors typed in as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ks::test {

// Aborts the test binary on a malformed literal: a typo in a vector must not pass quietly.
std::vector<uint8_t> from_hex(std::string_view hex);
std::string to_hex(const uint8_t* data, size_t len);

}  // namespace ks::test
