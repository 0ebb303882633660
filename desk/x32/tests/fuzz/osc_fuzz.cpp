// The X32's OSC on any datagram: parsed or refused with an error, and a parsed message holds
// only terminated texts and counts within their arrays.
#include <cstring>

#include "desk/x32/osc.h"
#include "tests/support/fuzz_check.h"

using namespace ks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OscMessage m;
  OscError e = osc_parse(data, size, &m);
  KS_FUZZ_CHECK(osc_error_text(e) != nullptr);
  if (e != OscError::ok) return 0;
  KS_FUZZ_CHECK(size % 4 == 0 && m.address[0] == '/');
  KS_FUZZ_CHECK(std::memchr(m.address, '\0', sizeof m.address) &&
                std::memchr(m.type_tags, '\0', sizeof m.type_tags));
  KS_FUZZ_CHECK(m.arg_count >= 0 && m.arg_count <= kOscMaxArgs);
  KS_FUZZ_CHECK(m.string_count >= 0 && m.string_count <= kOscMaxStrings);
  for (int i = 0; i < m.string_count; ++i)
    KS_FUZZ_CHECK(std::memchr(m.strings[i], '\0', sizeof m.strings[i]));
  double v;
  char tag = 0;
  if (osc_first_number(m, &v, &tag)) KS_FUZZ_CHECK(tag == 'f' || tag == 'i');

  // A parsed address goes out again as a query that parses to the same address.
  uint8_t q[kOscMaxQuery];
  size_t n = osc_encode_query(m.address, q, sizeof q);
  if (n > 0) {
    OscMessage again;
    KS_FUZZ_CHECK(osc_parse(q, n, &again) == OscError::ok &&
                  std::strcmp(again.address, m.address) == 0);
  }
  return 0;
}
