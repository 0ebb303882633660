// Text utilities the tray services share: UTF-8/UTF-16 conversion and two path operations.
// Paths are UTF-8; both "\" and "/" are separators, and the root name is a drive ("C:") or a
// server prefix ("\\server\share").
#pragma once

#include <string>
#include <string_view>

namespace ks::tray {

// Conversion by the platform's converters (code page 65001, no flags; os/utf.h natively):
// invalid input becomes U+FFFD as they make it, never an error; empty input gives empty output.
std::string to_utf8(std::u16string_view wide);
std::u16string from_utf8(std::string_view bytes);

// The folder holding `path`: "C:\a\b" -> "C:\a", "C:\a" -> "C:\", "C:\" -> "C:\". A path that is
// only a root is returned whole.
std::string parent_path(std::string_view path);

// `path` without its root name and the separators after it: "C:\a\b" -> "a\b".
std::string strip_leading_separators(std::string_view path);

}  // namespace ks::tray
