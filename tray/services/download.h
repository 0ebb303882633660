// One release file fetched and checked: size, SHA-256 and its own signature, in that order.
// Nothing is written here; the caller writes only what this returned true for.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "tray/services/release_manifest.h"

namespace ks::tray {

// url, size limit, out status, out bytes -> whether a 200 answer within the limit came.
using HttpGet =
    std::function<bool(const std::string& url, size_t limit, int& status, std::string& bytes)>;

bool download_and_verify(const HttpGet& get, const ReleaseEntry& entry, const uint8_t key[32],
                         std::string& bytes, std::string& message);

}  // namespace ks::tray
