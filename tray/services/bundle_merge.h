// Building the staging bundle's resources from Waves' card bundles: every resource file the
// staging bundle lacks, the card's icon as Kestrune.ico, the union of the device-id lists, and the
// application manifests' assignment priority set to 600.
#pragma once

#include <string>
#include <string_view>

#include "tray/services/fs_ops.h"

namespace ks::tray {

// Merges one Waves bundle into the staging bundle. On failure `message` says why; the caller
// removes the staging bundle.
bool merge_waves_bundle(FileSystem& fs, const std::string& waves, const std::string& staging,
                        const std::string& waves_name, std::string& message);

// The staging device-id text with each line of `waves` (trailing CR and blanks removed, empty
// lines skipped) that is not already one of its lines (whole lines), each line CR LF ended.
std::string device_id_union(std::string_view staging, std::string_view waves);

// "assignment_priority: 350.0" becomes "assignment_priority: 600.0" (blanks and fraction kept);
// a value without a fraction, or whose whole part is not digits, is left alone.
std::string patched_assignment_priority(std::string_view text);
// Reads, patches and writes back the file. False when it cannot be read or written: nothing is
// written from a failed read.
bool patch_assignment_priority(FileSystem& fs, const std::string& path);

}  // namespace ks::tray
