#include "tray/services/fs_ops.h"

#include "os/file.h"

namespace ks::tray {

std::string join(const std::string& a, const std::string& b) { return path_join(a, b); }

}  // namespace ks::tray
