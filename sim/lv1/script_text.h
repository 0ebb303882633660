// Texts inside an LV1 stand-in script line: a newline is written "\n", so a multi-line text
// (a session chunk, Waves' own text) fits on one line.
#pragma once

#include <string>
#include <string_view>

namespace ks::sim {

std::string script_escaped(std::string_view text);
std::string script_unescaped(std::string_view text);

// The lines with which LV1 opens one card before its first move: the factory, the given box
// line ("box b <vendor> <device>"), its listener, the gain object g, the strip host and the MAC
// that makes it the live card. The callback line is the caller's.
std::string card_setup_script(std::string_view box_line);

}  // namespace ks::sim
