#include "tray/ui/model/json_writer.h"

#include <cstdio>

namespace ks::tray {

namespace {

void comma(JsonWriter& w) {
  if (!w.first) w.out += ',';
  w.first = false;
}

}  // namespace

void json_quote(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  out += '"';
}

void json_begin_object(JsonWriter& w) {
  comma(w);
  w.out += '{';
  w.first = true;
}
void json_end_object(JsonWriter& w) {
  w.out += '}';
  w.first = false;
}
void json_begin_array(JsonWriter& w) {
  comma(w);
  w.out += '[';
  w.first = true;
}
void json_end_array(JsonWriter& w) {
  w.out += ']';
  w.first = false;
}

void json_key(JsonWriter& w, std::string_view key) {
  comma(w);
  json_quote(w.out, key);
  w.out += ':';
  w.first = true;  // the value's own comma test then writes none
}

void json_string(JsonWriter& w, std::string_view value) {
  comma(w);
  json_quote(w.out, value);
}
void json_bool(JsonWriter& w, bool value) {
  comma(w);
  w.out += value ? "true" : "false";
}
void json_int(JsonWriter& w, int64_t value) {
  comma(w);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
  w.out += buf;
}

void json_string(JsonWriter& w, std::string_view key, std::string_view value) {
  json_key(w, key);
  json_string(w, value);
}
void json_bool(JsonWriter& w, std::string_view key, bool value) {
  json_key(w, key);
  json_bool(w, value);
}
void json_int(JsonWriter& w, std::string_view key, int64_t value) {
  json_key(w, key);
  json_int(w, value);
}
void json_begin_object(JsonWriter& w, std::string_view key) {
  json_key(w, key);
  json_begin_object(w);
}
void json_begin_array(JsonWriter& w, std::string_view key) {
  json_key(w, key);
  json_begin_array(w);
}

}  // namespace ks::tray
