#include "tray/services/file_sig.h"

#include "crypto/ed25519.h"
#include "os/file.h"
#include "tray/services/build_keys.h"

namespace ks::tray {

bool read_whole_file(const std::string& path, std::string& out) {
  if (read_file(path, kWholeFileCap, out) == ReadStatus::ok) return true;
  out.clear();
  return false;
}

bool verify_file_sig(const std::string& path, const uint8_t key[32]) {
  std::string bytes, sig;
  if (!read_whole_file(path, bytes)) return false;
  // Read with room for one byte more, so a longer .sig is seen as such.
  if (read_file(path + ".sig", 65, sig) != ReadStatus::ok || sig.size() != 64) return false;
  return ed25519_verify(reinterpret_cast<const uint8_t*>(sig.data()),
                        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), key);
}

bool verify_file_sig(const std::string& path) { return verify_file_sig(path, release_key()); }

}  // namespace ks::tray
