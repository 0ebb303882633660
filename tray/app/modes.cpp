#include "tray/app/modes.h"

namespace ks::tray {

const ModeRow* find_mode(std::span<const ModeRow> rows, std::u16string_view command_line) {
  for (const ModeRow& row : rows) {
    std::u16string option;
    for (const char* p = row.option; *p; ++p) option += static_cast<char16_t>(static_cast<unsigned char>(*p));
    if (!option.empty() && command_line.find(option) != std::u16string_view::npos) return &row;
  }
  return nullptr;
}

}  // namespace ks::tray
