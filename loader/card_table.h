// The three SoundGrid cards the loader stands in front of, and how LV1's factory argument and
// Waves' bundle paths relate. Pure rules; the Windows factory applies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shared/records.h"

namespace ks {

constexpr int kCardRows = 3;

// Longest factory argument looked at (terminator excluded must stay below this).
constexpr size_t kBundleArgCap = 4096;

struct CardRow {
  const char* module_name;  // Waves' module, also its bundle's name
  uint32_t vendor;
  uint32_t product[2];
  int console_type;
};

extern const CardRow kCardTable[kCardRows];

// Row of the card LV1 names by vendor and product id, or -1 when Kestrune does not know it.
int find_card_row(uint32_t vendor, uint32_t product);

// True when LV1's factory argument (already known readable and shorter than kBundleArgCap)
// is the loader's own bundle: after trailing '/' and '\' it is at least 16 characters and ends,
// in any letter case, in a separator and "Kestrune.bundle".
bool is_own_bundle_arg(std::string_view arg);

// The bundle path a Waves module gets of its own: the argument up to and including the separator
// before "Kestrune.bundle", then the module's name and ".bundle". Only for an own-bundle argument.
std::string own_bundle_path(std::string_view arg, std::string_view module_name);

}  // namespace ks
