// The details panel: one row per fact of the shown console's bridge, under the state pill.
#include <algorithm>
#include <cstdio>

#include "tray/services/text_utils.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/lookups.h"

namespace ks::tray {

namespace {
constexpr Argb kDim = 0xFF2A333C;
std::u16string dash_if_empty(const std::string& s) { return s.empty() ? u"\u2014" : from_utf8(s); }
std::u16string fmt(const char* f, auto... a) {
  char buf[128];
  std::snprintf(buf, sizeof buf, f, a...);
  return from_utf8(buf);
}
}  // namespace

std::vector<DetailsRow> details_rows(const BridgeView& v) {
  std::vector<DetailsRow> rows;
  const StatusBlock* b = v.block;
  if (!b) {
    for (const char16_t* l : {u"Desk", u"Device", u"LV1 build"})
      rows.push_back({l, u"\u2014", kDim, true});
    rows.push_back({u"Module", u"not loaded", kDim, true});
    rows.push_back({u"Routing", u"\u2014", kDim, true});
    return rows;
  }
  const bool ans = shm_load(b->desk_answering) != 0;
  rows.push_back({u"Desk", dash_if_empty(field_text(b->desk_ip)), ans ? pal::ok : pal::bad, true});
  const std::string mac = field_text(b->mac);
  rows.push_back({u"Device", dash_if_empty(mac), mac.empty() ? kDim : pal::ok, true});
  rows.push_back({u"LV1 build", dash_if_empty(field_text(b->profile)), kDim, true});
  const bool ld = shm_load(b->lv1_loaded) != 0;
  rows.push_back({u"Module", ld ? u"loaded" : u"not loaded", ld ? pal::ok : pal::bad, true});
  const uint32_t age = shm_load(b->patch_age_ms);
  if (age == kPatchNeverRead)
    rows.push_back({u"Routing", u"not read yet", kDim, true});
  else if (!ans)
    rows.push_back({u"Routing", fmt("stale \xC2\xB7 %.0f s", age / 1000.0), pal::warn, true});
  else if (age <= 45000)
    rows.push_back({u"Routing", u"live", pal::ok, true});
  else
    rows.push_back({u"Routing", fmt("swept %.0f s ago", age / 1000.0), pal::warn, true});
  if (shm_load(b->degraded)) {
    const std::string t = field_text(b->status_text);
    rows.push_back(
        {u"Preamps", t.empty() ? u"no control right now" : from_utf8(t), pal::warn, true});
  }
  if (v.problems != 0) rows.push_back({u"Log", fmt("%d problem(s)", v.problems), pal::warn, true});
  if (block_version(b) < 16)
    rows.push_back({u"Version",
                    fmt("module v%u \xC2\xB7 app v%u", block_version(b), kAppLayoutVersion),
                    pal::warn, true});
  if (v.install_pending)
    rows.push_back({u"Update", u"installs when LV1 closes", pal::accent, true});
  if (rows.size() > 9) rows.resize(9);
  return rows;
}

float details_panel_height(size_t rows) { return float(rows) * 26 + 24; }

void paint_details_panel(Canvas& g, const BridgeView& v, const BridgeState& bs) {
  static const FontSpec fLabel{"Segoe UI", 10, FontWeight::bold};
  static const FontSpec fValue{"Consolas", 10.5f, FontWeight::regular};
  const std::vector<DetailsRow> rows = details_rows(v);
  const float h = details_panel_height(rows.size());
  const float right = bs.details_button[0] + bs.details_button[2];
  const float x = std::max(16.0f, right - 264), y = bs.details_button[1] + bs.details_button[3] + 8;
  g.fill_round_rect(0x46000000, x - 2, y + 2, 268, h + 4, 12);
  g.fill_round_rect(0xFF151A20, x, y, 264, h, 10);
  add_rounded_rect(g, 0xFF2A333C, x, y, 264, h, 10);
  float ry = y + 12;
  for (const DetailsRow& r : rows) {
    draw_text_centred(g, r.label, fLabel, pal::dim, x + 14, ry, 80, 26, false, 80);
    if (r.dot_shown) g.fill_ellipse(r.dot, x + 96, ry + 9.5f, 7, 7);
    draw_text_centred(g, r.value, fValue, pal::text, x + 96 + 13, ry, 264 - 96 - 13 - 14, 26, false,
                      264 - 96 - 13 - 14);
    ry += 26;
  }
}

}  // namespace ks::tray
