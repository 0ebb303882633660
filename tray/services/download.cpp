#include "tray/services/download.h"

#include "crypto/ed25519.h"
#include "tray/services/sha256.h"

namespace ks::tray {

bool download_and_verify(const HttpGet& get, const ReleaseEntry& entry, const uint8_t key[32],
                         std::string& bytes, std::string& message) {
  bytes.clear();
  int status = 0;
  if (!get || !get(entry.url, size_t(kReleaseFileLimit), status, bytes)) {
    bytes.clear();
    message = "download failed (HTTP " + std::to_string(status) + ")";
    return false;
  }
  bool ok = false;
  if (int64_t(bytes.size()) != entry.size)
    message = "wrong size";
  else if (sha256_hex(bytes) != entry.sha256)
    message = "SHA-256 mismatch";
  else if (!ed25519_verify(entry.sig.data(), reinterpret_cast<const uint8_t*>(bytes.data()),
                           bytes.size(), key))
    message = "signature does not verify";
  else
    ok = true;
  if (!ok) bytes.clear();  // refused bytes are never handed on
  return ok;
}

}  // namespace ks::tray
