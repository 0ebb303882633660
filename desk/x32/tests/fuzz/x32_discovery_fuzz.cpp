// An X32's "/xinfo" answer: any datagram either is no answer (the record untouched) or gives a
// record whose texts are terminated and free of control characters.
#include <cstring>

#include "desk/x32/x32_driver.h"
#include "tests/support/fuzz_check.h"

namespace {

bool printable(const char* s, size_t cap) {
  const void* end = std::memchr(s, '\0', cap);
  if (!end) return false;
  for (const char* p = s; p != end; ++p)
    if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::DeskAnswer a;
  std::memset(&a, 0x5A, sizeof a);
  if (!ks::x32_parse_xinfo(data, size, "127.0.0.31", &a)) {
    for (size_t i = 0; i < sizeof a; ++i)
      KS_FUZZ_CHECK(reinterpret_cast<const uint8_t*>(&a)[i] == 0x5A);
    return 0;
  }
  KS_FUZZ_CHECK(std::strcmp(a.ip, "127.0.0.31") == 0);
  KS_FUZZ_CHECK(printable(a.name, sizeof a.name) && printable(a.model, sizeof a.model));
  KS_FUZZ_CHECK(printable(a.id, sizeof a.id) && std::strncmp(a.id, "name:", 5) == 0);
  KS_FUZZ_CHECK(printable(a.identity, sizeof a.identity) &&
                std::strncmp(a.identity, "X32,", 4) == 0);
  KS_FUZZ_CHECK(a.card == -1);
  return 0;
}
