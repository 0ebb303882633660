#include "desk/x32/x32_tables.h"

#include <cmath>
#include <cstring>

namespace ks {

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool same(const char* a, const char* b) {
  if (!a) return false;
  for (; *a && *b; a++, b++)
    if (upper(*a) != upper(*b)) return false;
  return *a == *b;
}

bool contains_upper(const char* text, const char* word) {
  size_t n = std::strlen(word);
  for (const char* p = text; *p; p++) {
    size_t i = 0;
    while (i < n && p[i] && upper(p[i]) == word[i]) i++;
    if (i == n) return true;
  }
  return false;
}

const char* const kBlockAddress[4] = {"/config/routing/CARD/1-8", "/config/routing/CARD/9-16",
                                      "/config/routing/CARD/17-24", "/config/routing/CARD/25-32"};

}  // namespace

int x32_headamp_index(const char* bank, int n) {
  if (same(bank, "AN") && n >= 1 && n <= 32) return n - 1;
  if (same(bank, "A") && n >= 1 && n <= 48) return n + 31;
  if (same(bank, "B") && n >= 1 && n <= 48) return n + 79;
  return -1;
}

bool x32_headamp_input(int index, const char** bank, int* n) {
  if (index < 0 || index >= kX32HeadAmps) return false;
  if (index < 32) {
    *bank = "AN", *n = index + 1;
  } else if (index < 80) {
    *bank = "A", *n = index - 31;
  } else {
    *bank = "B", *n = index - 79;
  }
  return true;
}

float x32_gain_to_wire(double db) {
  double f = (db - kX32GainMin) / (kX32GainMax - kX32GainMin);
  if (!(f > 0)) return 0.0f;  // also NaN
  if (f > 1) return 1.0f;
  return float(f);
}

bool x32_gain_from_wire(double f, double* db) {
  if (!std::isfinite(f) || f < 0 || f > 1) return false;
  *db = f * (kX32GainMax - kX32GainMin) + kX32GainMin;
  return true;
}

X32Route x32_card_route(int v, uint32_t n) {
  uint32_t within = (n - 1) % 8;
  static const uint32_t kBase[6] = {1, 9, 17, 25, 33, 41};
  if (v >= 0 && v <= 3) return {X32Route::direct, "AN", kBase[v] + within, 0};
  if (v >= 4 && v <= 9) return {X32Route::direct, "A", kBase[v - 4] + within, 0};
  if (v >= 10 && v <= 15) return {X32Route::direct, "B", kBase[v - 10] + within, 0};
  if (v >= 26 && v <= 31) return {X32Route::user_out, "", 0, int((v - 26) * 8 + within + 1)};
  if (v >= 32 && v <= 35) return {X32Route::user_in, "", 0, int((v - 32) * 8 + within + 1)};
  return {X32Route::direct, "OUT", n, 0};
}

X32Route x32_user_route(int u, uint32_t n) {
  if (u >= 1 && u <= 32) return {X32Route::direct, "AN", uint32_t(u), 0};
  if (u >= 33 && u <= 80) return {X32Route::direct, "A", uint32_t(u - 32), 0};
  if (u >= 81 && u <= 128) return {X32Route::direct, "B", uint32_t(u - 80), 0};
  return {X32Route::direct, "OUT", n, 0};
}

const char* x32_card_block_address(int k) { return k >= 0 && k < 4 ? kBlockAddress[k] : ""; }

int x32_card_block_of_address(const char* address) {
  for (int k = 0; k < 4; k++)
    if (std::strcmp(address, kBlockAddress[k]) == 0) return k;
  return -1;
}

int x32_aes50_digit(const char* status, int n) {
  if (!status || n < 1) return 0;
  size_t len = strnlen(status, 64);
  if (len < 5) return 0;
  size_t at = len - 4 < 7 ? 4 + size_t(n - 1) / 8 : 4 + size_t(n - 1);
  if (at >= len) return 0;
  char c = status[at];
  return c >= '0' && c <= '9' ? c - '0' : 0;
}

int x32_aes50_present(const char* status) {
  for (int i = 0; i < 4; i++) {
    if (!status[i]) return 0;
    if (status[i] != ' ') return 1;
  }
  return 0;
}

bool x32_identity_model(const char* identity, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = 0;
  if (!identity) return false;
  const char* last = std::strrchr(identity, ',');
  if (!last) return false;
  const char* prev = nullptr;
  for (const char* p = identity; p < last; p++)
    if (*p == ',') prev = p;
  if (!prev) return false;
  size_t n = size_t(last - prev - 1);
  if (n > cap - 1) n = cap - 1;
  std::memcpy(out, prev + 1, n);
  out[n] = 0;
  return true;
}

uint32_t x32_local_preamp_type(const char* model, int n) {
  if (n < 1 || n > 32) return 0;
  if (model && (same(model, "M32C") || same(model, "X32CORE"))) return 0;
  if (model && (same(model, "X32C") || same(model, "X32P") || same(model, "X32RACK") ||
                same(model, "M32R") || contains_upper(model, "RACK") ||
                contains_upper(model, "COMPACT") || contains_upper(model, "PRODUCER")))
    return n <= 16 ? 3 : 0;
  return 3;
}

bool x32_parse_number(const char* p, const char* end, int max_digits, int* out) {
  if (end <= p || end - p > max_digits) return false;
  int v = 0;
  for (; p < end; p++) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
  }
  *out = v;
  return true;
}

}  // namespace ks
