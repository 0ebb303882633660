// The update server's reply: a manifest whose body is signed with the release key, and the
// entries (one downloadable file each) that the signed body lists.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tray/services/json.h"

namespace ks::tray {

inline constexpr size_t kManifestLimit = 0x40000;        // 256 KiB: the largest reply read
inline constexpr int64_t kReleaseFileLimit = 0x4000000;  // 64 MiB: the largest download
inline constexpr std::string_view kManifestFormat = "kestrune-release/1";
inline constexpr std::string_view kPlatform = "windows-x64";

struct ReleaseEntry {
  std::string file;
  std::string version;
  std::string url;
  std::string sha256;             // 64 lower-case hexadecimal digits
  std::string console;            // modules only
  std::string edition;            // program entries only
  int64_t size = 0;               // 1 .. kReleaseFileLimit
  int32_t abi = -1;               // absent or negative: -1
  std::array<uint8_t, 64> sig{};  // the file's detached signature
};

struct Release {
  std::string version;
  std::vector<ReleaseEntry> modules;  // accepted module entries, in manifest order
  std::optional<ReleaseEntry> loader;
  std::optional<ReleaseEntry> app;
};

// The names this program looks for in a release.
struct ReleaseNames {
  std::string platform = std::string(kPlatform);
  std::string module_suffix = ".dll";
  std::string loader_name = "Kestrune.dll";
  std::string program_name = "Kestrune.exe";
  std::string edition;  // this build's edition word
};

// One entry object. False when any field breaks its rule (a missing or mistyped member counts
// as broken; of doubled members the first one counts).
bool parse_release_entry(const JsonValue& object, ReleaseEntry& out);
// A module entry also needs a console type and the file name <console>-<version><suffix>.
bool validate_module_entry(const ReleaseEntry& entry, std::string_view suffix = ".dll");

// The whole reply, checked in order: JSON, format, platform, Base64 of body and signature, the
// signature over the body with `key`, the body's JSON, product and platform. On failure
// `message` holds the reason for the log line.
bool parse_release_manifest(std::string_view reply, const ReleaseNames& names,
                            const uint8_t key[32], Release& out, std::string& message);

// Newer: major, then minor, then patch; at equal numbers a release is newer than a prerelease.
bool version_newer(const VersionTriple& a, const VersionTriple& b);

}  // namespace ks::tray
