// A file checked against its detached signature <file>.sig (exactly 64 raw bytes).
#pragma once

#include <cstdint>
#include <string>

namespace ks::tray {

inline constexpr size_t kWholeFileCap = 0x4000000;  // 64 MiB

// False when the file cannot be opened, is larger than 64 MiB or is not read completely.
bool read_whole_file(const std::string& path, std::string& out);

// The file (at most 64 MiB) and <path>.sig of exactly 64 bytes, checked with `key`.
bool verify_file_sig(const std::string& path, const uint8_t key[32]);
// With the release key built into this program.
bool verify_file_sig(const std::string& path);

}  // namespace ks::tray
