#include "tray/services/text_utils.h"

namespace ks::tray {

namespace {

bool is_sep(char c) { return c == '\\' || c == '/'; }

// Length of the root name: "C:" (a drive), "\\server" (a server prefix), or nothing.
size_t root_name_length(std::string_view p) {
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')))
    return 2;
  if (p.size() >= 3 && is_sep(p[0]) && is_sep(p[1]) && !is_sep(p[2])) {
    size_t i = 2;
    while (i < p.size() && !is_sep(p[i])) ++i;
    return i;
  }
  return 0;
}

// Length of the root: its name and the separators right after it.
size_t root_length(std::string_view p) {
  size_t i = root_name_length(p);
  while (i < p.size() && is_sep(p[i])) ++i;
  return i;
}

}  // namespace

std::string parent_path(std::string_view path) {
  const size_t root = root_length(path);
  if (root == path.size()) return std::string(path);
  size_t end = path.size();
  while (end > root && !is_sep(path[end - 1])) --end;  // the last component
  while (end > root && is_sep(path[end - 1])) --end;   // the separators before it
  return std::string(path.substr(0, end));
}

std::string strip_leading_separators(std::string_view path) {
  return std::string(path.substr(root_length(path)));
}

}  // namespace ks::tray
