#include "os/temp.h"

#include <cstdlib>

namespace ks {

std::string temp_dir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = t && *t ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace ks
