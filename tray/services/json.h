// The tray program's JSON reader: the update server's reply, the signed release body and the page
// text. Recursive descent over a byte range; strict where a signed manifest needs it (nesting
// limit, whole-text rule, exact key match), lenient elsewhere (raw control bytes and bytes of
// 0x80 and above are taken as they are, \u escapes are not paired into surrogates).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ks::tray {

enum class JsonKind : uint8_t {
  null = 0,
  boolean = 1,
  number = 2,
  string = 3,
  array = 4,
  object = 5
};

struct JsonMember;

// One parsed value; it owns its children.
struct JsonValue {
  JsonKind kind = JsonKind::null;
  bool boolean = false;             // a boolean's value; false otherwise
  double number = 0;                // a number's value; 0 otherwise
  std::string text;                 // a string's bytes (UTF-8), escapes resolved
  std::vector<JsonValue> items;     // an array's elements, in input order
  std::vector<JsonMember> members;  // an object's members, in input order; duplicates kept
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

// Nesting limit: the outermost value has depth 1, so 32 levels parse and the 33rd fails.
inline constexpr int32_t kJsonMaxDepth = 32;

// The text is a byte range, not NUL-terminated; nothing is read at or past `end`.
struct JsonCursor {
  const char* pos;
  const char* end;
  int32_t depth = 0;
};

// Parses one value at the cursor into `out` and leaves the cursor behind it; what follows is not
// examined. On failure `out` may be partly filled and is to be discarded.
bool json_parse(JsonCursor& cur, JsonValue& out);

// True only when the whole text is one value, optionally surrounded by blanks.
bool parsed_then_blank(std::string_view text, JsonValue& out);

// Moves over space, tab, line feed and carriage return.
void json_skip_ws(JsonCursor& cur);

// One quoted string at the cursor, appended to `out`.
bool json_parse_string(JsonCursor& cur, std::string& out);

// The value of the first member whose key matches `key` byte for byte; null when `value` is not
// an object or has no such member.
const JsonValue* json_find(const JsonValue& value, std::string_view key);

// The text of the member found by json_find when it is a string; empty otherwise (a number is
// not converted).
std::string json_get_string(const JsonValue& object, std::string_view key);

// json_get_string as UTF-16; an absent object gives an empty string.
std::u16string json_wstring(const JsonValue* object, std::string_view key);

// Result of parse_version. A failed parse gives major -1 (callers test major < 0).
struct VersionTriple {
  int32_t major = -1;
  int32_t minor = 0;
  int32_t patch = 0;
  bool prerelease = false;
};

// "3.2.0" -> 3, 2, 0; "3.2.0-rc1" -> prerelease; anything else after the third number is
// ignored. Each number is read as strtol reads it, clamped to the 32-bit range.
VersionTriple parse_version(std::string_view text);

}  // namespace ks::tray
