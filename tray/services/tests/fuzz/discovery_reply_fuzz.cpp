// Any datagram as a console's answer: the parsers read only the bytes received, take exactly the
// answers they should, and what they take is clean, bounded text whose fields fit their records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/fuzz_check.h"
#include "tray/services/discovery.h"
#include "tray/services/text_utils.h"

namespace {

void check_clean(const std::string& line, const char* prefix) {
  KS_FUZZ_CHECK(line.rfind(prefix, 0) == 0);
  const std::u16string wide = ks::tray::from_utf8(line);
  KS_FUZZ_CHECK(wide.size() <= ks::tray::kDiscoveryLineMax);
  KS_FUZZ_CHECK(ks::tray::to_utf8(wide) == line);  // valid UTF-8
  for (unsigned char c : line) KS_FUZZ_CHECK(c >= 0x20 && c != 0x7F);
  ks::tray::ConsoleDiscovery d;
  d.take_discovery_line(line);
  KS_FUZZ_CHECK(d.current().found && d.current().line == line);
  KS_FUZZ_CHECK(ks::tray::from_utf8(d.current().ip).size() <= ks::tray::kDiscoveryFieldMax);
  KS_FUZZ_CHECK(ks::tray::from_utf8(d.current().model).size() <= ks::tray::kDiscoveryFieldMax);
}

bool holds_mark(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 5 <= n; ++i)
    if (std::memcmp(p + i, "WING,", 5) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the received length: a read past it is caught.
  std::vector<uint8_t> exact(data, data + size);
  const uint8_t* p = exact.empty() ? nullptr : exact.data();

  std::string line;
  const bool wing = ks::tray::parse_wing_reply(p, size, &line);
  KS_FUZZ_CHECK(wing == (size > 5 && holds_mark(p, size)));
  if (wing) check_clean(line, "WING,");

  line.clear();
  const bool x32 = ks::tray::parse_x32_reply(p, size, &line);
  if (x32) {
    KS_FUZZ_CHECK(size >= 16 && std::memcmp(p, "/xinfo", 7) == 0);
    check_clean(line, "X32,");
  }
  return 0;
}
