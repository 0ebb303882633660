// The reroute page: the physical desk input that feeds one LV1 channel, chosen from the group
// lists the console module publishes, with notes on what the choice changes.
#include <algorithm>
#include <cstdio>

#include "tray/services/text_utils.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/channel_kit.h"
#include "tray/ui/lookups.h"

namespace ks::tray {

namespace {

const FontSpec fTitle{"Segoe UI", 15, FontWeight::bold};
const FontSpec fText{"Segoe UI", 12, FontWeight::regular};
const FontSpec fSmall{"Segoe UI", 11, FontWeight::regular};
const FontSpec fSemi{"Segoe UI Semibold", 12, FontWeight::semibold};
const FontSpec fNum{"Consolas", 12, FontWeight::regular};
constexpr Argb kCard = 0xFF151A20, kOutline = 0xFF2A333C, kNoteFill = 0xFF0D1A14,
               kCellFill = 0xFF0D1014;

std::u16string fmt(const char* f, auto... a) {
  char buf[400];
  std::snprintf(buf, sizeof buf, f, a...);
  return from_utf8(buf);
}

std::string listed_name(const ListedInput& li) { return field_text(li.name, sizeof li.name); }

void draw_note(Canvas& g, const PageNote& n, float x, float y, float w, float tw) {
  g.fill_round_rect(n.fill, x, y, w, n.height, 6);
  add_rounded_rect(g, n.border, x, y, w, n.height, 6);
  const float gx = x + 18, gy = y + 9 + 8;
  if (n.kind == 0)
    draw_warning_glyph(g, gx, gy, 6, n.accent, 1.5f);
  else if (n.kind == 1)
    draw_check_glyph(g, gx, gy, 5, n.accent);
  else
    draw_shield_glyph(g, gx, gy, 13, n.accent);
  draw_wrapped_text(g, n.text, fSmall, pal::text, x + 36, y + 9, tw);
}

}  // namespace

int reroute_columns(float inner_width) { return inner_width >= 600 ? 8 : 4; }

void paint_reroute_page(Canvas& g, PaintContext& pc, const BridgeView& v, DashboardUiState& ui,
                        BridgeState& bs, BridgeLink& link, float W, float H) {
  take_reroute_outcome(ui, bs, link);
  const StatusBlock* b = v.block;
  bs.cell_inputs.clear();
  if (!b || ui.reroute_channel < 0 || ui.reroute_channel >= int(kChannels) ||
      ui.modal != kModalReroute) {
    close_reroute_page(ui);
    return;
  }
  const int ch = ui.reroute_channel;
  const std::string group = field_text(ui.reroute_group);
  const bool patched = !is_unpatched(b, ch);
  const std::u16string today = source_label(b, ch);
  const std::u16string name = channel_name(b, ch);
  const std::u16string title = name.empty() ? fmt("Reroute channel %02d", ch + 1)
                                            : fmt("Reroute channel %02d \xC2\xB7 ", ch + 1) + name;

  // What the grid shows: the live list of the chosen group, or the cache while a scan refills it.
  std::vector<ListedInput> shown;
  bool from_cache = false;
  if (same_group(field_text(b->input_list_group), group)) {
    const uint32_t n = std::min<uint32_t>(shm_load(b->input_list_count), kListedInputs);
    shown.assign(b->input_list, b->input_list + n);
  }
  const auto cached = bs.input_cache.find(cache_key(group));
  if (ui.reroute_listing && cached != bs.input_cache.end() &&
      cached->second.size() > shown.size()) {
    shown = cached->second;
    from_cache = true;
  }
  const ListedInput* picked = nullptr;
  for (const ListedInput& li : shown)
    if (ui.reroute_input && li.input == ui.reroute_input) picked = &li;

  // Layout: measured once, then drawn.
  const float pw = std::min(W - 32, 780.0f), iw = pw - 44;
  const int cols = reroute_columns(iw);
  const float cellw = (iw - 5.0f * float(cols - 1)) / float(cols);
  const std::u16string intro = fmt(
      "Fed from %s today. Choose the physical input that should feed it; the desk is repatched when you confirm.",
      to_utf8(patched ? today : u"nothing").c_str());
  const std::u16string shield_note =
      u"48V stays with the XLR.  A repatch never switches it on or off \u2014 the strip simply starts reading a different input.";

  std::vector<PageNote> notes;
  if (picked) {
    const std::u16string pl = fmt("%s %u", group.c_str(), unsigned(picked->input));
    const bool strip48 = b->phantom[ch] != 0;
    if (bool(picked->phantom) != strip48)
      add_page_note(
          notes,
          fmt("48V on this strip changes. It reads %s now and will read %s after \xE2\x80\x94 that is %s's own state. Nothing is switched: %s keeps its 48V for whatever is still plugged into it.",
              strip48 ? "on" : "off", picked->phantom ? "on" : "off", to_utf8(pl).c_str(),
              to_utf8(today).c_str()),
          0xFF5A4526, 0xFF1D1710, pal::warn, 0);
    int other = -1;
    for (int c = 0; c < watched_channels(b); ++c)
      if (c != ch && b->src_input[c] == picked->input &&
          same_group(field_text(b->src_bank[c]), group)) {
        other = c;
        break;
      }
    if (other >= 0)
      add_page_note(
          notes,
          fmt("%s also feeds channel %02d. Both strips will move one head amp; a change on either shows on both.",
              to_utf8(pl).c_str(), other + 1),
          0xFF242D36, 0xFF0D1014, pal::muted, 0);
    if (picked->is_protected)
      add_page_note(
          notes,
          fmt("%s is protected. Kestrune will never switch 48V on here \xE2\x80\x94 the strip's 48V button is refused. Set it at load-in with the 48V protect list.",
              to_utf8(pl).c_str()),
          0xFF5E2A2F, 0xFF1C1214, pal::bad, 2);
    if (!picked->has_head_amp)
      add_page_note(
          notes,
          fmt("%s has no head amp. LV1 draws no gain or 48V control for channel %02d while it is fed from here.",
              to_utf8(pl).c_str(), ch + 1),
          0xFF242D36, 0xFF0D1014, pal::muted, 0);
    add_page_note(
        notes,
        u"Kestrune does not copy this channel's gain or 48V to the new input. The strip takes that input's own values within about a tenth of a second.",
        0xFF24402F, kNoteFill, pal::ok, 1);
  }
  const float ntw = iw - 46;
  for (PageNote& n : notes) n.height = std::max(34.0f, text_height(g, n.text, fSmall, ntw) + 18);

  const int rows =
      std::max(int((shown.size() + size_t(cols) - 1) / size_t(cols)), ui.reroute_listing ? 3 : 1);
  const uint32_t gn = std::min<uint32_t>(ui.reroute_group_count, 16);
  float tabs_h = 0;
  {
    float tx = 0;
    int tab_rows = gn ? 1 : 0;
    for (uint32_t i = 0; i < gn; ++i) {
      const std::u16string t = from_utf8(field_text(ui.reroute_groups[i]));
      const float w = text_width(g, t, fSemi) + 30;
      if (tx > 0 && tx + w > iw) tx = 0, ++tab_rows;
      tx += w + 6;
    }
    tabs_h = tab_rows ? float(tab_rows) * 36 - 6 : 0;
  }
  const float intro_h = text_height(g, intro, fText, iw);
  // The 48V note wraps in a narrow window rather than losing its end.
  const float shield_th = text_height(g, shield_note, fSmall, iw - 44);
  const float shield_h = std::max(34.0f, shield_th + 16);
  float notes_h = 0;
  for (const PageNote& n : notes) notes_h += n.height + 6;
  const float reply_h =
      ui.reroute_reply.empty() ? 0 : text_height(g, from_utf8(ui.reroute_reply), fSmall, iw) + 10;
  const float ph = 22 + 24 + 10 + intro_h + 10 + shield_h + 14 + tabs_h + 8 + 18 + 8 +
                   float(rows) * 65 + 18 + 8 + notes_h + 52 + 14 + 34 + reply_h + 22;
  const float px = (W - pw) / 2, py = std::max((H - ph) / 2, 16.0f);
  ui.reroute_panel[0] = px, ui.reroute_panel[1] = py, ui.reroute_panel[2] = pw,
  ui.reroute_panel[3] = ph;

  g.fill_rect(0x96040608, 0, 0, W, H);
  draw_shadow(g, px, py, pw, ph, 10);
  g.fill_round_rect(kCard, px, py, pw, ph, 10);
  add_rounded_rect(g, kOutline, px, py, pw, ph, 10);
  const float x = px + 22;
  float y = py + 22;
  draw_text_box(g, title, fTitle, pal::text, x, y, iw - 40, TextAlign::near_);
  draw_close_cross(g, px + pw - 22 - 12, y + 10, pal::muted);
  pc.regions.push_back({px + pw - 22 - 24, y - 2, 24, 24, 36, 1});
  y += 24 + 10;
  y += draw_wrapped_text(g, intro, fText, pal::muted, x, y, iw) + 10;
  g.fill_round_rect(0xFF0A0D10, x, y, iw, shield_h, 6);
  add_rounded_rect(g, 0xFF1C242C, x, y, iw, shield_h, 6);
  draw_shield_glyph(g, x + 18, y + shield_h / 2, 13, pal::ok);
  draw_wrapped_text(g, shield_note, fSmall, pal::muted, x + 36, y + (shield_h - shield_th) / 2,
                    iw - 44);
  y += shield_h + 14;

  // Group tabs.
  {
    float tx = 0, ty = y;
    for (uint32_t i = 0; i < gn; ++i) {
      const std::string gname = field_text(ui.reroute_groups[i]);
      const std::u16string t = from_utf8(gname);
      const float w = text_width(g, t, fSemi) + 30;
      if (tx > 0 && tx + w > iw) tx = 0, ty += 36;
      const bool cur = same_group(gname, group);
      g.fill_round_rect(cur ? 0xFF1B222A : 0xFF0A0D10, x + tx, ty, w, 30, 6);
      add_rounded_rect(g, cur ? 0xFF3D4B59 : 0xFF26333C, x + tx, ty, w, 30, 6);
      g.fill_round_rect(source_tag_colour(gname), x + tx + 9, ty + 8.5f, 3, 13, 1.5f);
      draw_text_centred(g, t, fSemi, cur ? pal::text : pal::muted, x + tx + 18, ty, w - 22, 30,
                        false, w - 22);
      pc.regions.push_back({x + tx, ty, w, 30, int32_t(600 + i), 1});
      tx += w + 6;
    }
    y += tabs_h + 8;
  }
  // The chosen group's label and range, and the scan's state.
  {
    const GainRange r = group_record(b, group);
    std::u16string line = from_utf8(group) + u"  " + group_label(group) + u"   " + db_text(r.min) +
                          u" \u2026 " + db_text(r.max) + u" \u00B7 step " + db_text(r.step, 2);
    if (ui.reroute_listing && !shown.empty())
      line += from_cache ? u"   as last read \u2014 checking the desk for changes\u2026"
                         : u"   reading the rest of the group\u2026";
    draw_text_box(g, line, fSmall, pal::dim, x, y, iw, TextAlign::near_);
    y += 18 + 8;
  }
  // Input grid.
  const float grid_top = y;
  if (shown.empty()) {
    draw_text_centred(g,
                      ui.reroute_listing ? u"Reading the desk's inputs\u2026"
                                         : u"No inputs listed for this group.",
                      fText, pal::muted, x, y, iw, float(rows) * 65 - 5, true, iw);
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    const ListedInput& li = shown[i];
    const float cx = x + float(i % size_t(cols)) * (cellw + 5),
                cy = grid_top + float(i / size_t(cols)) * 65;
    const bool pick = ui.reroute_input && li.input == ui.reroute_input;
    const bool hov = pc.hover_id == int32_t(700 + i);
    g.fill_round_rect(pick ? 0xFF10262E : (hov ? 0xFF1B222A : kCellFill), cx, cy, cellw, 60, 6);
    add_rounded_rect(g, pick ? pal::accent : 0xFF1C242C, cx, cy, cellw, 60, 6);
    draw_text_box(g, fmt("%u", unsigned(li.input)), fNum, pick ? pal::accent : pal::muted, cx + 8,
                  cy + 6, 30, TextAlign::near_);
    float bx = cx + cellw - 6;
    if (!li.has_head_amp) {
      const float w = text_width(g, u"NO AMP", fSmall) + 8;
      bx -= w;
      add_rounded_rect(g, pal::dim, bx, cy + 6, w, 15, 3);
      draw_text_centred(g, u"NO AMP", fSmall, pal::dim, bx, cy + 6, w, 15, true, w);
    }
    if (li.is_protected) {
      bx -= 17;
      draw_shield_glyph(g, bx + 7, cy + 13.5f, 12, pal::muted);
    }
    if (li.phantom) {
      const float w = text_width(g, u"48V", fSmall) + 8;
      bx -= w + 3;
      add_rounded_rect(g, pal::bad, bx, cy + 6, w, 15, 3);
      draw_text_centred(g, u"48V", fSmall, pal::bad, bx, cy + 6, w, 15, true, w);
    }
    const std::string nm = listed_name(li);
    draw_text_box(g, nm.empty() ? u"\u2014" : from_utf8(nm), fSmall, pal::text, cx + 8, cy + 24,
                  cellw - 14, TextAlign::near_);
    // Which watched channels take this input, recounted from the strips' own sources.
    int fed[7], nf = 0, more = 0;
    for (int c = 0; c < watched_channels(b); ++c)
      if (b->src_input[c] == li.input && same_group(field_text(b->src_bank[c]), group)) {
        if (nf < 7)
          fed[nf++] = c;
        else
          ++more;
      }
    std::u16string feeds = u"free";
    if (nf == 1)
      feeds = fmt("feeds %02d", fed[0] + 1);
    else if (nf > 1)
      feeds = fmt("%02d +%d", fed[0] + 1, nf - 1 + more);
    draw_text_box(g, feeds, fSmall, nf ? pal::accent : pal::dim, cx + 8, cy + 41, cellw - 14,
                  TextAlign::near_);
    pc.regions.push_back({cx, cy, cellw, 60, int32_t(700 + i), 1});
    bs.cell_inputs.push_back(li.input);
  }
  y = grid_top + float(rows) * 65 + 13;

  for (const PageNote& n : notes) {
    draw_note(g, n, x, y, iw, ntw);
    y += n.height + 6;
  }
  // Summary.
  g.fill_round_rect(0xFF0A0D10, x, y, iw, 52, 8);
  add_rounded_rect(g, 0xFF1C242C, x, y, iw, 52, 8);
  draw_text_centred(g, fmt("%02d \xE2\x86\x90 ", ch + 1) + today, fNum, pal::muted, x + 16, y,
                    iw / 2, 52, false, iw / 2);
  if (picked) {
    g.fill_round_rect(source_tag_colour(group), x + iw / 2, y + 12, 3, 28, 1.5f);
    draw_text_centred(
        g, fmt("%02d \xE2\x86\x90 %s %u", ch + 1, group.c_str(), unsigned(picked->input)), fNum,
        pal::text, x + iw / 2 + 12, y, iw / 2 - 24, 52, false, iw / 2 - 24);
  } else {
    draw_text_centred(g, u"Pick an input above", fText, pal::dim, x + iw / 2 + 12, y, iw / 2 - 24,
                      52, false, iw / 2 - 24);
  }
  y += 52 + 14;
  // Buttons, right-aligned.
  const bool working = ui.reroute_pending == 5;
  float right = x + iw;
  const std::u16string rp = picked ? fmt("Repatch %02d \xE2\x86\x92 %s %u", ch + 1, group.c_str(),
                                         unsigned(picked->input))
                                   : u"Repatch";
  right -= draw_button_at_right(g, pc, fSemi, rp, right, y, 37, picked && !working, true, 34) + 10;
  right -= draw_button_at_right(g, pc, fSemi, u"Cancel", right, y, 36, true, false, 34) + 10;
  if (patched)
    draw_button_at_right(g, pc, fSemi, fmt("Unroute %02d", ch + 1), right, y, 38, !working, false,
                         34);
  y += 34;
  if (!ui.reroute_reply.empty()) {
    y += 10;
    draw_wrapped_text(g, from_utf8(ui.reroute_reply), fSmall, pal::warn, x, y, iw);
  }
}

}  // namespace ks::tray
