// The platform's SHA-256: one BCryptHash call on the algorithm's pseudo-handle, no key.
#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "tray/services/sha256.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace ks::tray {

bool platform_sha256(const uint8_t* data, size_t size, uint8_t digest[32]) {
  if (size > ULONG_MAX) return false;  // one call takes a 32-bit length
  static uint8_t empty = 0;
  NTSTATUS st =
      BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, const_cast<PUCHAR>(size ? data : &empty),
                 static_cast<ULONG>(size), digest, 32);
  return st == 0;
}

}  // namespace ks::tray
