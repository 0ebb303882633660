#include "tray/services/json.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tray/services/text_utils.h"

namespace ks::tray {

namespace {

bool is_number_byte(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void put_code_unit(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

bool literal(JsonCursor& cur, std::string_view word) {
  if (static_cast<size_t>(cur.end - cur.pos) < word.size()) return false;
  if (std::memcmp(cur.pos, word.data(), word.size()) != 0) return false;
  cur.pos += word.size();
  return true;
}

// The number run converted as strtod converts it, accepted only when the whole run is used.
// The run is copied first: the input is not NUL-terminated, and strtod would read past it.
bool convert_number(std::string_view run, double& value) {
  std::string_view digits = run;
  // strtod takes one leading '+'; from_chars takes none.
  if (!digits.empty() && digits[0] == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) return false;
  }
  if (digits.empty()) return false;
  double v = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ptr != digits.data() + digits.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Past the double range: strtod gives +-HUGE_VAL or a value near zero and still uses the
    // whole run, so the number stands with that value.
    std::string copy(digits);
    errno = 0;
    v = std::strtod(copy.c_str(), nullptr);
  } else if (ec != std::errc()) {
    return false;
  }
  value = v;
  return true;
}

struct DepthGuard {
  int32_t& depth;
  explicit DepthGuard(int32_t& d) : depth(d) { ++depth; }
  ~DepthGuard() { --depth; }
};

}  // namespace

void json_skip_ws(JsonCursor& cur) {
  while (cur.pos < cur.end &&
         (*cur.pos == ' ' || *cur.pos == '\t' || *cur.pos == '\n' || *cur.pos == '\r'))
    ++cur.pos;
}

bool json_parse_string(JsonCursor& cur, std::string& out) {
  if (cur.pos >= cur.end || *cur.pos != '"') return false;
  ++cur.pos;
  while (cur.pos < cur.end) {
    char c = *cur.pos++;
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (cur.pos >= cur.end) return false;
    char e = *cur.pos++;
    switch (e) {
      case '"':
      case '/':
      case '\\': out += e; break;
      case 'b': out += '\x08'; break;
      case 'f': out += '\x0C'; break;
      case 'n': out += '\x0A'; break;
      case 'r': out += '\x0D'; break;
      case 't': out += '\x09'; break;
      case 'u': {
        if (cur.end - cur.pos < 4) return false;
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i) {
          int h = hex_value(cur.pos[i]);
          if (h < 0) return false;
          u = (u << 4) | static_cast<uint32_t>(h);
        }
        cur.pos += 4;
        put_code_unit(out, u);
        break;
      }
      default: return false;
    }
  }
  return false;
}

bool json_parse(JsonCursor& cur, JsonValue& out) {
  out = JsonValue{};  // a value used before keeps nothing of its earlier parse
  json_skip_ws(cur);
  if (cur.pos >= cur.end) return false;
  DepthGuard guard(cur.depth);
  if (cur.depth > kJsonMaxDepth) return false;

  const char c = *cur.pos;
  if (c == '{') {
    out.kind = JsonKind::object;
    ++cur.pos;
    json_skip_ws(cur);
    if (cur.pos < cur.end && *cur.pos == '}') {
      ++cur.pos;
      return true;
    }
    for (;;) {
      json_skip_ws(cur);
      JsonMember m;
      if (!json_parse_string(cur, m.key)) return false;
      json_skip_ws(cur);
      if (cur.pos >= cur.end || *cur.pos != ':') return false;
      ++cur.pos;
      if (!json_parse(cur, m.value)) return false;
      out.members.push_back(std::move(m));
      json_skip_ws(cur);
      if (cur.pos >= cur.end) return false;
      char sep = *cur.pos++;
      if (sep == '}') return true;
      if (sep != ',') return false;
    }
  }
  if (c == '[') {
    out.kind = JsonKind::array;
    ++cur.pos;
    json_skip_ws(cur);
    if (cur.pos < cur.end && *cur.pos == ']') {
      ++cur.pos;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!json_parse(cur, item)) return false;
      out.items.push_back(std::move(item));
      json_skip_ws(cur);
      if (cur.pos >= cur.end) return false;
      char sep = *cur.pos++;
      if (sep == ']') return true;
      if (sep != ',') return false;
    }
  }
  if (c == '"') {
    out.kind = JsonKind::string;
    return json_parse_string(cur, out.text);
  }
  if (literal(cur, "true")) {
    out.kind = JsonKind::boolean;
    out.boolean = true;
    return true;
  }
  if (literal(cur, "false")) {
    out.kind = JsonKind::boolean;
    out.boolean = false;
    return true;
  }
  if (literal(cur, "null")) {
    out.kind = JsonKind::null;
    return true;
  }
  const char* start = cur.pos;
  while (cur.pos < cur.end && is_number_byte(*cur.pos)) ++cur.pos;
  if (cur.pos == start) return false;
  out.kind = JsonKind::number;
  return convert_number(std::string_view(start, static_cast<size_t>(cur.pos - start)), out.number);
}

bool parsed_then_blank(std::string_view text, JsonValue& out) {
  JsonCursor cur{text.data(), text.data() + text.size(), 0};
  if (!json_parse(cur, out)) return false;
  json_skip_ws(cur);
  return cur.pos == cur.end;
}

const JsonValue* json_find(const JsonValue& value, std::string_view key) {
  if (value.kind != JsonKind::object) return nullptr;
  for (const JsonMember& m : value.members)
    if (m.key == key) return &m.value;
  return nullptr;
}

std::string json_get_string(const JsonValue& object, std::string_view key) {
  const JsonValue* v = json_find(object, key);
  if (!v || v->kind != JsonKind::string) return {};
  return v->text;
}

std::u16string json_wstring(const JsonValue* object, std::string_view key) {
  if (!object) return {};
  return from_utf8(json_get_string(*object, key));
}

namespace {

// One integer as strtol (base 10) reads it: leading white space, an optional sign, digits.
// Clamped to the 32-bit range so that every platform reads a long number alike.
bool read_int(std::string_view s, size_t& at, int32_t& value) {
  size_t i = at;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  size_t digits = i;
  int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v <= INT32_MAX) v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == digits) return false;
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  value = static_cast<int32_t>(v);
  at = i;
  return true;
}

}  // namespace

VersionTriple parse_version(std::string_view text) {
  VersionTriple failed;
  VersionTriple v;
  size_t at = 0;
  if (!read_int(text, at, v.major) || at >= text.size() || text[at] != '.') return failed;
  ++at;
  if (!read_int(text, at, v.minor) || at >= text.size() || text[at] != '.') return failed;
  ++at;
  if (!read_int(text, at, v.patch)) return failed;
  v.prerelease = at < text.size() && text[at] == '-';
  return v;
}

}  // namespace ks::tray
