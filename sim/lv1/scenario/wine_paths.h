// Paths between the build (Unix) and the programs it runs under Wine (Windows).
#pragma once

#include <string>

namespace ks::sim {

// UTF-8 to the wide text Windows' file calls take.
std::wstring wide(const std::string& s);
// The Unix root is drive Z: under Wine; other paths are returned as they are.
std::string windows_path(std::string path);

}  // namespace ks::sim
