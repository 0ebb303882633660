#include "os/file.h"

namespace ks {

std::string path_join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  char last = a.back();
  if (last == '/' || last == path_separator()) return a + b;
  return a + path_separator() + b;
}

}  // namespace ks
