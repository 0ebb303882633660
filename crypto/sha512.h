// SHA-512 (FIPS 180-4), the hash inside Ed25519. Portable, no allocation, no global state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

// Running hash state: for inputs that arrive in pieces (Ed25519 hashes R, A and the message
// without gluing them together first).
struct Sha512 {
  uint64_t h[8];
  uint8_t buf[128];  // bytes of the block not yet compressed
  size_t fill;       // how many of buf are in use, 0..127
  uint64_t total;    // bytes hashed so far
};

// Compresses one 128-byte block into the eight state words.
void sha512_block(uint64_t h[8], const uint8_t block[128]);

void sha512_init(Sha512& s);
void sha512_update(Sha512& s, const uint8_t* data, size_t len);
void sha512_final(Sha512& s, uint8_t out[64]);

// One-shot hash of len bytes.
void sha512(const uint8_t* data, size_t len, uint8_t out[64]);

}  // namespace ks
