// Detached signatures of console-module files: <file>.sig beside the file, exactly 64 raw bytes,
// an Ed25519 signature over every byte of the file, made with the release key's private half.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/held_file.h"

namespace ks {

inline constexpr size_t kModuleFileMaxBytes = 0x2000000;  // 32 MiB
inline constexpr size_t kDetachedSignatureBytes = 64;
inline constexpr char kDetachedSignatureSuffix[] = ".sig";

// The public key built into this program (32 bytes). Which key it is comes with the build.
const uint8_t* release_key();
// True in builds that trust the throw-away test key instead of a release key.
bool release_key_is_test_key();

// Reads <path>.sig and checks it against `data` (the signed file's bytes) and `key`. The .sig
// must hold exactly 64 bytes.
bool verify_detached_signature(const std::string& path, const uint8_t* data, size_t len,
                               const uint8_t key[32]);

// Reads the file whole (1 byte to 32 MiB; a larger or empty one is refused without looking at
// the signature) and checks its detached signature. On success `held` keeps the file open,
// readable by others but not writable, until the caller lets it go: the caller loads what was
// checked, not what may have been put there since.
bool verify_module_file(const std::string& path, const uint8_t key[32], HeldFile& held);
bool verify_module_file(const std::string& path, HeldFile& held);  // with release_key()
bool verify_module_file(const std::string& path);                  // and closes at once

}  // namespace ks
