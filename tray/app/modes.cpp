#include "tray/app/modes.h"

namespace ks::tray {

const std::u16string* find_option(std::span<const std::u16string> args, std::string_view option) {
  if (option.empty()) return nullptr;
  const std::u16string want(option.begin(), option.end());
  const bool prefix = option.back() == '=';
  for (size_t i = 1; i < args.size(); ++i) {
    const std::u16string& a = args[i];
    if (prefix ? a.compare(0, want.size(), want) == 0 : a == want) return &a;
  }
  return nullptr;
}

const ModeRow* find_mode(std::span<const ModeRow> rows, std::span<const std::u16string> args,
                         std::u16string* which) {
  for (const ModeRow& row : rows) {
    if (const std::u16string* a = find_option(args, row.option)) {
      if (which) *which = *a;
      return &row;
    }
  }
  return nullptr;
}

}  // namespace ks::tray
