// The streaming writer of the page model's JSON text: appends to one string, one comma rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ks::tray {

struct JsonWriter {
  std::string out;
  bool first = true;  // right after an opening bracket or brace
};

void json_begin_object(JsonWriter& w);
void json_end_object(JsonWriter& w);
void json_begin_array(JsonWriter& w);
void json_end_array(JsonWriter& w);
void json_key(JsonWriter& w, std::string_view key);  // the value that follows writes no comma
void json_string(JsonWriter& w, std::string_view value);
void json_bool(JsonWriter& w, bool value);
void json_int(JsonWriter& w, int64_t value);
void json_string(JsonWriter& w, std::string_view key, std::string_view value);
void json_bool(JsonWriter& w, std::string_view key, bool value);
void json_int(JsonWriter& w, std::string_view key, int64_t value);
// Keyed forms that open a container.
void json_begin_object(JsonWriter& w, std::string_view key);
void json_begin_array(JsonWriter& w, std::string_view key);

// Appends text in double quotes: '"' and '\' get a backslash, LF becomes \n, any other byte
// below 0x20 becomes \u00xx, every other byte (UTF-8 included) is copied unchanged.
void json_quote(std::string& out, std::string_view text);

}  // namespace ks::tray
