#include "tray/app/modes.h"

namespace ks::tray {

namespace {

bool matches(std::u16string_view option, std::u16string_view arg) {
  if (!option.empty() && option.back() == u'=') return arg.substr(0, option.size()) == option;
  return arg == option;
}

}  // namespace

const ModeRow* find_mode(std::span<const ModeRow> rows, const ModeArgs& args) {
  for (const ModeRow& row : rows) {
    std::u16string option;
    for (const char* p = row.option; *p; ++p) option += static_cast<char16_t>(static_cast<unsigned char>(*p));
    if (option.empty()) continue;
    for (size_t i = 1; i < args.args.size(); ++i)
      if (matches(option, args.args[i])) return &row;
  }
  return nullptr;
}

}  // namespace ks::tray
