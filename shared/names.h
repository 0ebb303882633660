// Names of the kernel objects through which LV1's process and the tray program meet. They are
// fixed: the loader, both console modules and the tray program must spell them alike.
// Each comes as UTF-8 text and as UTF-16 text (on Windows a char16_t string is a wchar_t string).
#pragma once

#include <cstddef>

namespace ks {

// Status block of a console module: the base name plus the host's status suffix
// (empty for the WING module, "-x32" for the X32/M32 module).
inline constexpr char kStatusBlockBaseName[] = "Local\\KestruneStatus";
inline constexpr char16_t kStatusBlockBaseNameU16[] = u"Local\\KestruneStatus";
inline constexpr char kStatusSuffixWing[] = "";
inline constexpr char16_t kStatusSuffixWingU16[] = u"";
inline constexpr char kStatusSuffixX32[] = "-x32";
inline constexpr char16_t kStatusSuffixX32U16[] = u"-x32";
// The full name (base plus suffix) is built once, in a buffer of this many characters with the NUL.
inline constexpr size_t kStatusBlockNameMax = 64;

// The loader's block, written by the loader, read by the tray program.
inline constexpr char kLoaderBlockName[] = "Local\\KestruneLoader";
inline constexpr char16_t kLoaderBlockNameU16[] = u"Local\\KestruneLoader";

// Auto-reset event: created by the loader's module watcher, set by the tray program after it
// changed state.cfg, the installed modules or an identify request.
inline constexpr char kModulesChangedEventName[] = "Local\\KestruneModulesChanged";
inline constexpr char16_t kModulesChangedEventNameU16[] = u"Local\\KestruneModulesChanged";

static_assert(sizeof(kStatusBlockBaseName) - 1 + sizeof(kStatusSuffixX32) - 1 <
              kStatusBlockNameMax);

}  // namespace ks
