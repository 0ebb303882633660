// The public keys built into the tray program. Both come with the build: a test build makes
// throw-away keys for its tree and trusts only those; a release build must be given the real
// keys and refuses the test ones.
#pragma once

#include <cstdint>

namespace ks::tray {

// Checks the release manifest and every download: the key the loader checks modules with.
const uint8_t* release_key();
bool release_key_is_test_key();

// Checks the trailer of kestrune_profiles.cfg: a key of its own, never the release key.
const uint8_t* profiles_key();
bool profiles_key_is_test_key();

}  // namespace ks::tray
