// UTF-8 <-> UTF-16 for the wide Windows interfaces. Invalid input becomes U+FFFD, never a crash.
#pragma once

#include <string>
#include <string_view>

namespace ks {

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);

}  // namespace ks
