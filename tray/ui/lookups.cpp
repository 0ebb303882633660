#include "tray/ui/lookups.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tray/services/text_utils.h"

namespace ks::tray {

std::string field_text(const char* field, size_t size) {
  size_t n = 0;
  while (n < size && field[n] != '\0') ++n;
  return std::string(field, n);
}

uint32_t block_version(const StatusBlock* b) { return b ? shm_load(b->version) : 0; }

int watched_channels(const StatusBlock* b) {
  if (!b) return 0;
  const uint32_t n = shm_load(b->watch_count);
  return n > kChannels ? int(kChannels) : int(n);
}

double clean_db(double v) {
  if (std::isnan(v) || v <= kNoLevelDb) return kNoLevelDb;
  if (v > 20.0) return 20.0;
  return v;
}

std::u16string db_text(double v, int decimals) {
  if (!std::isfinite(v)) v = 0;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::u16string out;
  for (const char* p = buf; *p; ++p) out += *p == '-' ? u'\u2212' : char16_t(*p);
  // "-0.0" is printed as a plain zero: no minus sign in front of nothing.
  if (out.size() > 1 && out[0] == u'\u2212' &&
      out.find_first_not_of(u"\u22120.") == std::u16string::npos)
    out.erase(0, 1);
  return out;
}

bool same_group(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool is_unpatched(const StatusBlock* b, int ch) {
  if (!b || ch < 0 || ch >= int(kChannels)) return true;
  const std::string g = field_text(b->src_bank[ch]);
  return g.empty() || same_group(g, "OFF") || b->src_input[ch] < 1;
}

int find_channel(const StatusBlock* b, std::string_view group, uint32_t input) {
  const int n = watched_channels(b);
  for (int c = 0; c < n; ++c)
    if (b->has_head_amp[c] && b->src_input[c] == input &&
        same_group(field_text(b->src_bank[c]), group))
      return c;
  return -1;
}

const char16_t* group_label(std::string_view code) {
  static const struct {
    const char* code;
    const char16_t* label;
  } table[] = {{"LCL", u"local XLR"},      {"AUX", u"aux inputs"},     {"A", u"AES50 A stagebox"},
               {"B", u"AES50 B stagebox"}, {"C", u"AES50 C stagebox"}, {"SC", u"StageConnect"},
               {"USB", u"USB return"},     {"CRD", u"expansion card"}, {"MOD", u"module slot"}};
  for (const auto& e : table)
    if (same_group(code, e.code)) return e.label;
  return u"";
}

GainRange group_record(const StatusBlock* b, std::string_view code) {
  GainRange r;
  if (!b) return r;
  r.min = b->range_min, r.max = b->range_max, r.step = b->range_step;
  const uint32_t n = std::min<uint32_t>(b->range_count, kGroupRanges);
  for (uint32_t i = 0; i < n; ++i)
    if (same_group(field_text(b->ranges[i].bank), code)) {
      r.min = b->ranges[i].min, r.max = b->ranges[i].max, r.step = b->ranges[i].step;
      break;
    }
  return r;
}

GainRange channel_gain_range(const StatusBlock* b, int ch) {
  GainRange r =
      group_record(b, b && ch >= 0 && ch < int(kChannels) ? field_text(b->src_bank[ch]) : "");
  if (!std::isfinite(r.min)) r.min = kUnknownRangeMin;
  if (!std::isfinite(r.max)) r.max = kUnknownRangeMax;
  if (!(r.step > 0) || !std::isfinite(r.step)) r.step = 0.5;
  return r;
}

std::u16string channel_name(const StatusBlock* b, int ch) {
  if (!b || ch < 0 || ch >= int(kChannels) || block_version(b) < 4) return {};
  return from_utf8(field_text(b->channel_name[ch]));
}

std::u16string source_label(const StatusBlock* b, int ch) {
  if (is_unpatched(b, ch)) return u"not patched";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %u", field_text(b->src_bank[ch]).c_str(), b->src_input[ch]);
  return from_utf8(buf);
}

std::u16string channel_label(const StatusBlock* b, int ch) {
  char num[16];
  std::snprintf(num, sizeof num, "%02d  ", ch + 1);
  std::u16string out = from_utf8(num);
  std::u16string name = channel_name(b, ch);
  if (name.size() > 23) name.resize(23);
  if (!name.empty()) return out + name;
  if (!b || ch < 0 || ch >= int(kChannels)) return out;
  char src[32];
  std::snprintf(src, sizeof src, "%s %u", field_text(b->src_bank[ch]).c_str(), b->src_input[ch]);
  return out + from_utf8(src);
}

void add_page_note(std::vector<PageNote>& list, std::u16string text, Argb border, Argb fill,
                   Argb accent, uint32_t kind) {
  list.push_back({std::move(text), border, fill, accent, kind, 0});
}

void read_console_choices(std::vector<ConsoleChoice>& list, const JsonValue& model) {
  if (model.kind != JsonKind::object) return;
  const JsonValue* l = json_find(model, "list");
  if (!l || l->kind != JsonKind::array) return;
  for (const JsonValue& item : l->items) {
    ConsoleChoice c;
    c.name = json_wstring(&item, "name");
    c.card = json_wstring(&item, "card");
    const JsonValue* beta = json_find(item, "beta");
    c.beta = beta && beta->kind == JsonKind::boolean && beta->boolean;
    list.push_back(std::move(c));
  }
}

InputRow read_input_row(const StatusBlock* b, std::string_view group, uint32_t input) {
  InputRow r;
  r.input = input;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*s %u", int(std::min<size_t>(group.size(), 7)), group.data(),
                input);
  r.label = from_utf8(buf);
  r.channel = find_channel(b, group, input);
  r.found = r.channel >= 0;
  r.name = r.found ? channel_name(b, r.channel) : std::u16string();
  if (r.name.empty()) r.name = r.label;
  if (r.found) {
    r.gain = b->gain_db[r.channel];
    r.phantom = b->phantom[r.channel] != 0;
    r.is_protected = block_version(b) >= 9 && b->is_protected[r.channel] != 0;
  }
  return r;
}

}  // namespace ks::tray
