// The temporary folder (GetTempPathW), UTF-8, ending with a separator.
#pragma once

#include <string>

namespace ks {

std::string temp_dir();

}  // namespace ks
