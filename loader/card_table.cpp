#include "loader/card_table.h"

#include "shared/iobox.h"

namespace ks {

const CardRow kCardTable[kCardRows] = {
    {kWavesModuleWing, kCardVendor, {2, 5}, kTypeWing},
    {kWavesModuleXWsg, kCardVendor, {0, 3}, kTypeX32},
    {kWavesModuleDn32, kCardVendor, {1, 4}, kTypeX32},
};

int find_card_row(uint32_t vendor, uint32_t product) {
  for (int i = 0; i < kCardRows; ++i) {
    const CardRow& row = kCardTable[i];
    if (row.vendor == vendor && (row.product[0] == product || row.product[1] == product)) return i;
  }
  return -1;
}

namespace {

constexpr std::string_view kOwnBundle = "Kestrune.bundle";

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::string_view without_trailing_separators(std::string_view s) {
  while (!s.empty() && is_separator(s.back())) s.remove_suffix(1);
  return s;
}

bool ends_with_nocase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  s = s.substr(s.size() - tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = s[i], b = tail[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

bool is_own_bundle_arg(std::string_view arg) {
  if (arg.size() >= kBundleArgCap) return false;
  std::string_view s = without_trailing_separators(arg);
  if (s.size() < 16 || !ends_with_nocase(s, kOwnBundle)) return false;
  return is_separator(s[s.size() - kOwnBundle.size() - 1]);
}

std::string own_bundle_path(std::string_view arg, std::string_view module_name) {
  std::string_view s = without_trailing_separators(arg);
  std::string out(s.substr(0, s.size() >= kOwnBundle.size() ? s.size() - kOwnBundle.size() : 0));
  out += module_name;
  out += ".bundle";
  return out;
}

}  // namespace ks
