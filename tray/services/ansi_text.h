// Texts that LV1's process writes in the system's ANSI code page (file names in the loader block,
// reply texts of the command ring), as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace ks::tray {

// Windows: through the active code page. Natively bytes above 0x7F are read as Latin-1.
std::string ansi_to_utf8(std::string_view ansi);

}  // namespace ks::tray
