// Files of a bundle the end-to-end runs lay out under Wine: build paths are Unix paths, the
// bundle's are Windows paths.
#pragma once

#include <string>

namespace ks::e2e {

// UTF-8 to the wide text Windows' file calls take.
std::wstring wide(const std::string& s);
// The Unix root is drive Z: under Wine; other paths are returned as they are.
std::string windows_path(std::string path);
// Copies a build output (a Unix or Windows path) to a Windows path, replacing what is there.
bool copy_into(const std::string& from, const std::string& to);
// Writes text as the whole file (an empty text makes a signal file).
bool write_file(const std::string& path, const std::string& text);

}  // namespace ks::e2e
