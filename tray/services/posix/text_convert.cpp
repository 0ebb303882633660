// The native tier's conversions: the shared portable converter.
#include "os/utf.h"
#include "tray/services/text_utils.h"

namespace ks::tray {

std::string to_utf8(std::u16string_view wide) { return utf16_to_utf8(wide); }

std::u16string from_utf8(std::string_view bytes) { return utf8_to_utf16(bytes); }

}  // namespace ks::tray
