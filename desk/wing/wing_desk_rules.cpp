#include "desk/wing/wing_desk_rules.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "bridge/text.h"
#include "desk/wing/wing_codec.h"

namespace ks {

namespace {

bool alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool identity_field_from_end(const char* line, int from_end, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = 0;
  if (!line) return false;
  size_t len = strnlen(line, 512);
  // end: one past the field; walk back over from_end commas.
  size_t end = len;
  for (int k = 0; k < from_end; ++k) {
    while (end > 0 && line[end - 1] != ',') --end;
    if (end == 0) return false;
    --end;  // onto the comma
  }
  size_t start = end;
  while (start > 0 && line[start - 1] != ',') --start;
  if (start == 0) return false;  // no comma before: not a field of the line
  copy_text(out, cap, std::string_view(line + start, end - start));
  return true;
}

bool identity_firmware(const char* line, char* out, size_t cap) {
  if (!identity_field_from_end(line, 0, out, cap)) return false;
  char* colon = std::strchr(out, ':');
  if (colon) *colon = 0;
  return true;
}

uint32_t wing_bank_size_for(const char* model, const char* bank) {
  if (!bank) return 0;
  const char* m = model ? model : "";
  if (icontains(m, "rack") || icontains(m, "compact")) {
    if (iequals(bank, "LCL")) return 24;
  } else if (icontains(m, "full") || icontains(m, "bk") || iequals(m, "wing")) {
    if (iequals(bank, "LCL") || iequals(bank, "AUX")) return 8;
  }
  if (iequals(bank, "AUX")) return 0;
  static const struct {
    const char* bank;
    uint32_t n;
  } groups[] = {{"LCL", 24}, {"AUX", 8},  {"A", 48},   {"B", 48},   {"C", 48},  {"SC", 32},
                {"USB", 48}, {"CRD", 64}, {"MOD", 64}, {"PLAY", 4}, {"AES", 2}, {"USR", 56}};
  for (const auto& g : groups)
    if (iequals(bank, g.bank)) return g.n;
  return 0;
}

uint32_t KS_ABI wing_stagebox_channels(const char* names) {
  if (!names || !*names) return 0xFFFFFFFFu;
  static const struct {
    const char* name;
    uint32_t n;
  } boxes[] = {{"DL251", 48}, {"DL32", 32},  {"DL16", 16}, {"DL151", 24},
               {"SD16", 16},  {"SD8", 8},    {"S32", 32},  {"S16", 16},
               {"DN4816", 0}, {"DN4888", 0}, {"M32C", 0},  {"X32C", 0}};
  bool any = false;
  uint32_t total = 0;
  for (const auto& box : boxes) {
    size_t n = std::strlen(box.name);
    for (const char* p = std::strstr(names, box.name); p; p = std::strstr(p + 1, box.name)) {
      bool before = p > names && alnum(p[-1]);
      bool after = alnum(p[n]);
      if (before || after) continue;
      any = true;
      total += box.n;
    }
  }
  return any ? total : 0xFFFFFFFFu;
}

bool wing_mode_from_text(const char* text, int32_t n, uint32_t* mode) {
  if (!text || !mode) return false;
  bool odd = (n % 2) != 0;
  if (std::strcmp(text, "M") == 0) {
    *mode = 0;
  } else if (std::strcmp(text, "ST") == 0) {
    *mode = odd ? 1 : 2;
  } else if (std::strcmp(text, "M/S") == 0) {
    *mode = odd ? 3 : 4;
  } else {
    return false;
  }
  return true;
}

uint32_t wing_stereo_lead(int32_t n, bool stereo) {
  if (n >= 2 && n % 2 == 0 && stereo) return uint32_t(n - 1);
  return uint32_t(n);
}

bool parse_gain_range_block(const uint8_t* b, size_t len, double* min, double* max, double* step) {
  if (!b) return false;
  size_t d = (len > 0 && b[0] == 0xDF) ? 1 : 0;
  if (len < d + 2) return false;
  if (b[d] == 0 && b[d + 1] == 0) d += 4;
  size_t p1 = d + 2 + 10;  // length byte of the first text
  if (p1 >= len) return false;
  size_t p2 = p1 + 1 + b[p1];  // length byte of the second
  if (p2 >= len) return false;
  size_t o = p2 + b[p2];
  if (o + 15 > len) return false;
  uint8_t kind = b[o + 2] >> 4;
  if (kind != 1 && kind != 2) return false;
  uint32_t lo = read_be32(b + o + 3), hi = read_be32(b + o + 7), count = read_be32(b + o + 11);
  float fmin, fmax;
  std::memcpy(&fmin, &lo, 4);
  std::memcpy(&fmax, &hi, 4);
  if (!std::isfinite(fmin) || !std::isfinite(fmax)) return false;
  if (count < 2 || !(fmax > fmin) || fmax - fmin > 200.0f) return false;
  if (min) *min = fmin;
  if (max) *max = fmax;
  if (step) *step = (double(fmax) - double(fmin)) / double(count - 1);
  return true;
}

bool leaf_accepts_token(const char* leaf, uint8_t token) {
  if (!leaf) return true;
  if (std::strcmp(leaf, "g") == 0) return token == 0xD5;
  if (std::strcmp(leaf, "vph") == 0 || std::strcmp(leaf, "mute") == 0) return token <= 0x01;
  if (std::strcmp(leaf, "$mute") == 0 || std::strcmp(leaf, "$ha") == 0) return token < 0x40;
  return true;
}

bool is_placeholder_name(const char* name) {
  if (!name || std::strncmp(name, "PATCH", 5) != 0) return false;
  for (const char* p = name + 5; *p; ++p)
    if (*p != ' ' && !std::isdigit(static_cast<unsigned char>(*p))) return false;
  return true;
}

bool is_group_token(const char* text) {
  if (!text) return false;
  size_t n = std::strlen(text);
  if (n == 0 || n > 6) return false;
  for (size_t i = 0; i < n; ++i)
    if (!alnum(text[i])) return false;
  return true;
}

}  // namespace ks
