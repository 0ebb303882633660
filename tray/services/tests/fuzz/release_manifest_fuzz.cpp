// The update server's reply on any bytes. A whole reply never passes without the release key's
// signature (this key has no private half here), and says why it failed; any JSON object read as
// an entry is accepted only when every field keeps its rule.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/fuzz_check.h"
#include "tray/services/json.h"
#include "tray/services/release_manifest.h"

namespace {

bool lower_hex(std::string_view s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

void check_entry(const ks::tray::JsonValue& object) {
  using namespace ks::tray;
  ReleaseEntry e;
  if (!parse_release_entry(object, e)) return;
  KS_FUZZ_CHECK(e.size >= 1 && e.size <= kReleaseFileLimit);
  KS_FUZZ_CHECK(e.sha256.size() == 64 && lower_hex(e.sha256));
  KS_FUZZ_CHECK(e.abi >= -1);
  KS_FUZZ_CHECK(!e.file.empty() && e.file.size() <= 255 && e.file != "." && e.file != "..");
  KS_FUZZ_CHECK(e.file.find_first_of("/\\") == std::string::npos);
  KS_FUZZ_CHECK(e.url.rfind("https://", 0) == 0 && e.url.size() <= 2048);
  if (validate_module_entry(e)) KS_FUZZ_CHECK(e.file == e.console + "-" + e.version + ".dll");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks::tray;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  static const uint8_t key[32] = {0x3d, 0x40, 0x17, 0xc3, 0xe8, 0x43, 0x89, 0x5a, 0x92, 0xb7, 0x0a,
                                  0xa7, 0x4d, 0x1b, 0x7e, 0xbc, 0x9c, 0x98, 0x2c, 0xcf, 0x2e, 0xc4,
                                  0x96, 0x8c, 0xc0, 0xcd, 0x55, 0xf1, 0x2a, 0xf4, 0x66, 0x0c};
  Release release;
  std::string message;
  KS_FUZZ_CHECK(!parse_release_manifest(text, ReleaseNames{}, key, release, message));
  KS_FUZZ_CHECK(!message.empty());

  JsonValue v;
  if (!parsed_then_blank(text, v)) return 0;
  if (v.kind == JsonKind::object) check_entry(v);
  for (const JsonValue& item : v.items)
    if (item.kind == JsonKind::object) check_entry(item);
  return 0;
}
