// The JSON reader on any bytes: nothing is read outside the text, a value that parses stays
// within the nesting limit, the whole-text rule agrees with the cursor parse, and the version
// reader never leaves its range.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tests/support/fuzz_check.h"
#include "tray/services/json.h"

namespace {

int depth_of(const ks::tray::JsonValue& v) {
  int inner = 0;
  for (const auto& item : v.items) inner = std::max(inner, depth_of(item));
  for (const auto& m : v.members) inner = std::max(inner, depth_of(m.value));
  return 1 + inner;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks::tray;
  const char* text = reinterpret_cast<const char*>(data);

  JsonValue v;
  JsonCursor cur{text, text + size};
  const bool parsed = json_parse(cur, v);
  KS_FUZZ_CHECK(cur.pos >= text && cur.pos <= text + size);
  if (parsed) KS_FUZZ_CHECK(depth_of(v) <= kJsonMaxDepth);

  JsonValue whole;
  if (parsed_then_blank(std::string_view(text, size), whole)) {
    KS_FUZZ_CHECK(parsed);  // a whole text that parses also parses from the cursor
    KS_FUZZ_CHECK(depth_of(whole) <= kJsonMaxDepth);
    if (whole.kind == JsonKind::object && !whole.members.empty()) {
      // Duplicate keys: the first one wins.
      const JsonValue* found = json_find(whole, whole.members.front().key);
      KS_FUZZ_CHECK(found == &whole.members.front().value);
    }
  }

  // The numbers are read as strtol reads them (signs and leading blanks included), so any triple
  // can come back; what is checked here is that no text makes the reader misbehave.
  (void)parse_version(std::string_view(text, size));
  return 0;
}
