// Text utilities the tray services share: UTF-8/UTF-16 conversion and two path operations.
// Paths are UTF-8; both "\" and "/" are separators, and the root name is a drive ("C:") or a
// server prefix ("\\server\share").
#pragma once

#include <string>
#include <string_view>

namespace ks::tray {

// Invalid input converts to U+FFFD, as the platform's converter does without flags; empty input
// gives empty output.
std::string to_utf8(std::u16string_view wide);
std::u16string from_utf8(std::string_view bytes);

// The folder holding `path`: "C:\a\b" -> "C:\a", "C:\a" -> "C:\", "C:\" -> "C:\". A path that is
// only a root is returned whole.
std::string parent_path(std::string_view path);

// `path` without its root name and the separators after it: "C:\a\b" -> "a\b".
std::string strip_leading_separators(std::string_view path);

}  // namespace ks::tray
