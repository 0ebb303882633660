// Files of a bundle the end-to-end runs lay out under Wine: build paths are Unix paths, the
// bundle's are Windows paths.
#pragma once

#include <string>

#include "sim/lv1/scenario/wine_paths.h"

namespace ks::e2e {

using sim::wide;
using sim::windows_path;

// Copies a build output (a Unix or Windows path) to a Windows path, replacing what is there.
bool copy_into(const std::string& from, const std::string& to);
// Writes text as the whole file (an empty text makes a signal file).
bool write_file(const std::string& path, const std::string& text);

}  // namespace ks::e2e
