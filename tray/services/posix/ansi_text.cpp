#include "tray/services/ansi_text.h"

namespace ks::tray {

std::string ansi_to_utf8(std::string_view ansi) {
  std::string out;
  for (unsigned char c : ansi) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace ks::tray
