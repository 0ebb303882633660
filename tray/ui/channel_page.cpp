// The channel page of one LV1 channel (head amp, input mode, routing, facts) and its link popover.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tray/services/text_utils.h"
#include "tray/ui/bridge_pages.h"
#include "tray/ui/channel_kit.h"
#include "tray/ui/lookups.h"

namespace ks::tray {

namespace {

const FontSpec fHead{"Consolas", 11, FontWeight::regular};
const FontSpec fTitle{"Segoe UI Semibold", 13, FontWeight::semibold};
const FontSpec fLabel{"Segoe UI", 11, FontWeight::bold};
const FontSpec fText{"Segoe UI", 11.5f, FontWeight::regular};
const FontSpec fNote{"Segoe UI", 11, FontWeight::regular};
const FontSpec fEmph{"Segoe UI Semibold", 11.5f, FontWeight::semibold};
const FontSpec fButton{"Segoe UI Semibold", 11.5f, FontWeight::semibold};
const FontSpec fGain{"Consolas", 13, FontWeight::regular};
constexpr Argb kCard = 0xFF151A20, kOutline = 0xFF2A333C, kSecondary = 0xFFB9C6CF;
constexpr float kCardW = 300;

std::u16string fmt(const char* f, auto... a) {
  char buf[320];
  std::snprintf(buf, sizeof buf, f, a...);
  return from_utf8(buf);
}
std::string s8(const std::u16string& s) { return to_utf8(s); }

// Drawing calls go nowhere; measures come from the real canvas, so a layout pass sizes the card
// exactly as the drawing pass will fill it.
class MeasureCanvas : public Canvas {
public:
  explicit MeasureCanvas(Canvas& real) : r_(real) {}
  void fill_rect(Argb, float, float, float, float) override {}
  void fill_round_rect(Argb, float, float, float, float, float) override {}
  void stroke_round_rect(Argb, float, float, float, float, float, float) override {}
  void fill_ellipse(Argb, float, float, float, float) override {}
  void stroke_ellipse(Argb, float, float, float, float, float) override {}
  void line(Argb, float, float, float, float, float) override {}
  TextSize measure(const std::u16string& t, const FontSpec& f, float w, float h,
                   bool wrap) override {
    return r_.measure(t, f, w, h, wrap);
  }
  void draw_line_text(const std::u16string&, const FontSpec&, Argb, float, float, float, float,
                      TextAlign) override {}
  void draw_wrapped(const std::u16string&, const FontSpec&, Argb, float, float, float,
                    float) override {}
  float ascent(const FontSpec& f) override { return r_.ascent(f); }
  float world_scale() const override { return r_.world_scale(); }

private:
  Canvas& r_;
};

struct Facts {
  const StatusBlock* b;
  int c;
  std::string group;
  uint32_t input;
  bool phantom, prot, amp, unpatched, x32;
  uint8_t link;
  uint8_t mute;
  std::u16string source, title, partner;
  int partner_ch;
  uint32_t odd, even;
  GainRange range;
};

Facts facts_of(const BridgeView& v, int c) {
  const StatusBlock* b = v.block;
  Facts f{};
  f.b = b, f.c = c;
  const uint32_t ver = block_version(b);
  f.group = field_text(b->src_bank[c]);
  f.input = b->src_input[c];
  f.phantom = b->phantom[c] != 0;
  f.prot = ver >= 9 && b->is_protected[c] != 0;
  f.amp = b->has_head_amp[c] != 0;
  f.unpatched = is_unpatched(b, c);
  f.x32 = v.active_console == 1;
  f.link = ver >= 5 ? b->link_mode[c] : 0;
  if (f.link > 4) f.link = 0;
  f.mute = ver >= 7 ? b->mute_state[c] : 0;
  f.source = source_label(b, c);
  f.title = channel_name(b, c);
  if (f.title.empty()) f.title = f.source;
  f.odd = (f.input % 2) ? f.input : f.input - 1;
  f.even = f.odd + 1;
  const uint32_t other = f.input == f.odd ? f.even : f.odd;
  f.partner = fmt("%s %u", f.group.c_str(), other);
  f.partner_ch = f.unpatched ? -1 : find_channel(b, f.group, other);
  f.range = channel_gain_range(b, c);
  return f;
}

// A label, a one-line value and a wrapped note; y advances past it.
void fact_row(Canvas& g, float x, float& y, const char16_t* label, const std::u16string& value,
              Argb vc, const std::u16string& note, Argb nc) {
  y += 7;
  if (label) draw_text_box(g, label, fLabel, pal::dim, x + 14, y + 1, 66, TextAlign::near_);
  draw_text_box(g, value, fText, vc, x + 84, y, 202, TextAlign::near_);
  float nh = 0;
  if (!note.empty()) nh = draw_wrapped_text(g, note, fNote, nc, x + 84, y + 18, 202);
  y += 16 + 2 + nh + 7;
}

void note_under(Canvas& g, float x, float& y, const std::u16string& note, Argb nc) {
  if (note.empty()) return;
  y += draw_wrapped_text(g, note, fNote, nc, x + 84, y + 2, 202) + 6;
}

void section(Canvas& g, float x, float& y, const char16_t* name) {
  draw_section_rule(g, x, y);
  draw_text_box(g, name, fLabel, pal::muted, x + 14, y + 2, 200, TextAlign::near_);
  y += 18;
}

float channel_body(Canvas& g, PaintContext& pc, const Facts& f, const BridgeState& bs,
                   const std::string& reply, float x, float top) {
  const StatusBlock* b = f.b;
  float y = top + 12;
  // Header.
  g.fill_round_rect(source_tag_colour(f.group), x + 14, y + 3, 3, 26, 2);
  float hx = x + 24;
  const std::u16string num = fmt("%02d", f.c + 1);
  draw_text_box(g, num, fHead, pal::dim, hx, y + 2, 30, TextAlign::near_);
  hx += text_width(g, num, fHead) + 8;
  draw_text_box(g, f.source, fText, kSecondary, hx, y + 1, 120, TextAlign::near_);
  hx += text_width(g, f.source, fText) + 8;
  const std::u16string gl = group_label(f.group);
  if (!gl.empty() && !f.unpatched) {
    draw_text_box(g, gl, fNote, pal::dim, hx, y + 2, 110, TextAlign::near_);
    hx += text_width(g, gl, fNote) + 8;
  }
  if (f.link) {
    const char16_t* lt = f.link == 1 ? u"L" : (f.link == 2 ? u"R" : u"M/S");
    const float w = std::max(17.0f, text_width(g, lt, fNote) + 10);
    add_rounded_rect(g, pal::accent, hx, y + 1, w, 16, 3);
    draw_text_centred(g, lt, fNote, pal::accent, hx, y + 1, w, 16, true, w);
  }
  float badge_x = x + kCardW - 40;
  if (f.amp && f.phantom) {
    badge_x -= text_width(g, u"48V", fNote) + 10;
    draw_48v_badge(g, fNote, badge_x, y + 14, pal::bad);
  }
  draw_close_cross(g, x + kCardW - 23, y + 16, pal::muted);
  pc.regions.push_back({x + kCardW - 34, y + 4, 24, 24, 20, 1});
  draw_text_box(g, f.title, fTitle, pal::text, x + 24, y + 16, badge_x - x - 30, TextAlign::near_);
  y += 38;

  // Head amp.
  section(g, x, y, u"Head amp");
  const bool linked = f.link != 0;
  const bool leading = f.input == f.odd;
  const std::u16string range_line = db_text(f.range.min) + u" \u2026 " + db_text(f.range.max) +
                                    u" \u00B7 step " + db_text(f.range.step, 2);
  y += 7;
  draw_text_box(g, u"Gain", fLabel, pal::dim, x + 14, y + 4, 66, TextAlign::near_);
  if (f.amp) {
    const double gain = b->gain_db[f.c];
    // The labels show the same step the buttons post.
    const float bw = step_button_width(g, fButton, f.range.step);
    double dummy = 0;
    const bool down = gain_step_target(b, f.c, false, &dummy),
               up = gain_step_target(b, f.c, true, &dummy);
    float gx = x + 84;
    draw_step_button(g, pc, fButton, step_label(f.range.step, false), gx, y, bw, 31, down);
    gx += bw + 10;
    const std::u16string gt = db_text(gain);
    draw_text_box(g, gt, fGain, pal::text, gx, y + 3, 80, TextAlign::near_);
    gx += text_width(g, gt, fGain) + 4;
    draw_text_box(g, u"dB", fNote, pal::dim, gx, y + 5, 20, TextAlign::near_);
    gx += text_width(g, u"dB", fNote) + 10;
    draw_step_button(g, pc, fButton, step_label(f.range.step, true), gx, y, bw, 32, up);
    y += 22 + 4;
    note_under(g, x, y, (!linked || leading) ? range_line : u"No head amp on this source.",
               pal::dim);
  } else {
    draw_text_box(g, u"\u2014", fText, pal::muted, x + 84, y + 3, 40, TextAlign::near_);
    y += 22;
    note_under(g, x, y, u"No head amp on this source.", pal::dim);
  }
  // 48V.
  y += 7;
  draw_text_box(g, u"48V", fLabel, pal::dim, x + 14, y + 7, 66, TextAlign::near_);
  if (!f.amp) {
    draw_text_box(g, u"\u2014", fText, pal::muted, x + 84, y + 6, 40, TextAlign::near_);
    y += 29;
    note_under(g, x, y, u"48V needs a head amp; this source has none.", pal::dim);
  } else {
    const float w1 = draw_segment_button(g, fButton, u"OFF", x + 84, y, 29, f.prot && !f.phantom,
                                         !f.phantom, false);
    if (f.phantom) pc.regions.push_back({x + 84, y, w1, 29, 33, 1});
    const std::u16string on = f.phantom ? u"48V ON" : u"48V";
    const float w2 =
        draw_segment_button(g, fButton, on, x + 84 + w1 + 4, y, 29, f.prot, f.phantom, f.phantom);
    if (!f.phantom && !f.prot) pc.regions.push_back({x + 84 + w1 + 4, y, w2, 29, 34, 1});
    y += 29 + 4;
    std::u16string n48;
    if (f.prot)
      n48 = f.phantom ? u"OFF is live: it is the only way out of this."
                      : u"Both buttons are dead \u2014 the latch below is set.";
    else
      n48 = linked ? u"Per XLR. The pair shares a head amp, not a 48V switch."
                   : u"48V stays with this XLR. A link or a repatch never moves it.";
    note_under(g, x, y, n48, pal::dim);
    if (f.prot && f.phantom) {
      const std::u16string warn =
          u"48V is on at a protected socket \u2014 switched at the desk, not by Kestrune. The latch cannot stop the console's own button. OFF cuts it and clears this.";
      const float th = text_height(g, warn, fNote, 163);
      g.fill_round_rect(0xFF1C1214, x + 84, y, 202, th + 16, 6);
      add_rounded_rect(g, 0xFF5E2A2F, x + 84, y, 202, th + 16, 6);
      draw_warning_glyph(g, x + 84 + 18, y + 8 + 9, 6.5f, pal::bad, 1.5f);
      draw_wrapped_text(g, warn, fNote, pal::text, x + 84 + 32, y + 8, 163);
      y += th + 16 + 6;
    }
    // Protect.
    y += 4;
    const float pw = 202;
    g.fill_round_rect(f.prot ? 0xFF361A1D : 0xFF0A0D10, x + 84, y, pw, 28, 6);
    add_rounded_rect(g, f.prot ? 0xFF5E2A2F : 0xFF26333C, x + 84, y, pw, 28, 6);
    g.fill_round_rect(f.prot ? 0xFF5E2A2F : 0xFF1B222A, x + 90, y + 5, 34, 18, 9);
    g.fill_ellipse(f.prot ? 0xFFE8737B : pal::muted, f.prot ? x + 108 : x + 92, y + 7, 14, 14);
    if (f.prot) draw_shield_glyph(g, x + 138, y + 14, 13, pal::bad);
    draw_text_box(g, f.prot ? u"Protected" : u"Not protected", fText,
                  f.prot ? pal::bad : pal::muted, x + (f.prot ? 150 : 134), y + 6, 120,
                  TextAlign::near_);
    if (!(!f.prot && f.phantom)) pc.regions.push_back({x + 84, y, pw, 28, 35, 1});
    y += 28 + 4;
    std::u16string pn;
    if (f.prot)
      pn = fmt(
          "Latched off 48V at %s \xE2\x80\x94 saved in this console's settings. Releasing asks first.",
          s8(f.source).c_str());
    else if (f.phantom)
      pn = fmt("Switch 48V off at %s first, then it can be latched.", s8(f.source).c_str());
    else
      pn = fmt(
          "One flick latches %s off 48V for a ribbon \xE2\x80\x94 immediate, saved in this console's settings. Releasing asks.",
          s8(f.source).c_str());
    note_under(g, x, y, pn, pal::dim);
  }

  // Input.
  section(g, x, y, u"Input");
  {
    std::u16string owner, owner_note;
    if (!f.amp) {
      owner = u"None";
      owner_note =
          f.unpatched
              ? u"Nothing is patched to this input yet. Reroute it to a source."
              : u"A bus, return or USB source: it has no head amp, so gain and 48V live on whatever feeds it.";
    } else if (!linked) {
      owner = fmt("%s \xE2\x80\x94 its own", s8(f.source).c_str());
      owner_note = u"Mono. Nothing else moves when this one does.";
    } else if (leading) {
      owner = fmt("%s \xE2\x80\x94 drives %s", s8(f.source).c_str(), s8(f.partner).c_str());
      owner_note = f.link <= 2 ? u"Left leg of a stereo pair. This leg owns the head amp."
                               : u"Mid leg of an M/S pair. This leg owns the head amp.";
    } else {
      owner = fmt("%s \xE2\x80\x94 shared", s8(f.source).c_str());
      const char* leg = f.link == 2 ? "R" : (f.link == 1 ? "L" : "M/S");
      const std::u16string pair = fmt("%s %u + %u", f.group.c_str(), f.odd, f.even);
      const std::u16string owner_name = f.partner_ch >= 0 ? channel_name(b, f.partner_ch) : u"";
      owner_note = owner_name.empty()
                       ? fmt("%s leg of %s + %s. The odd leg owns the amp.", leg,
                             s8(f.source).c_str(), s8(pair).c_str())
                       : fmt("%s leg of %s + %s. %s owns the amp.", leg, s8(f.source).c_str(),
                             s8(pair).c_str(), s8(owner_name).c_str());
      owner_note += u" " + fmt("Follows %s. This leg's own gain node is set aside while linked.",
                               s8(f.partner).c_str());
    }
    fact_row(g, x, y, u"Head amp", owner, pal::text, owner_note, pal::dim);
    y += 0;
    draw_text_box(g, u"Stereo", fLabel, pal::dim, x + 14, y + 8, 66, TextAlign::near_);
    if (f.x32) {
      fact_row(g, x, y, nullptr, u"Set on the desk", pal::muted,
               u"The X32 links stereo on its own channels, not at the preamp.", pal::dim);
    } else {
      const char16_t* seg[3] = {u"Mono", u"Stereo", u"M/S"};
      const int cur = f.link == 0 ? 0 : (f.link <= 2 ? 1 : 2);
      g.fill_round_rect(0xFF0A0D10, x + 84, y, 186, 31, 6);
      add_rounded_rect(g, 0xFF26333C, x + 84, y, 186, 31, 6);
      for (int i = 0; i < 3; ++i) {
        const float sx = x + 84 + float(i) * 62 + 1;
        if (i == cur && !f.unpatched) g.fill_round_rect(0xFF1B222A, sx, y + 1, 60, 29, 5);
        draw_text_centred(g, seg[i], fButton,
                          f.unpatched ? 0xFF4C5A64 : (i == cur ? pal::text : kSecondary), sx, y, 60,
                          31, true, 60);
        if (!f.unpatched) pc.regions.push_back({x + 84 + float(i) * 62, y, 62, 31, 21 + i, 1});
      }
      y += 31 + 4;
      std::u16string mn;
      if (f.unpatched)
        mn = u"Nothing is patched here yet, so there is nothing to link.";
      else if (!f.amp)
        mn = fmt(
            "Pairs with %s on the desk. No head amp here, so no 48V question and no gain to hand back.",
            s8(f.partner).c_str());
      else if (!linked)
        mn = fmt("Pairs with %s on one head amp \xE2\x80\x94 this one. Asks about 48V first.",
                 s8(f.partner).c_str());
      else if (f.partner_ch >= 0 && block_version(b) >= 10 && b->parked_valid[f.partner_ch])
        mn = fmt("Unlinking hands %s its own head amp back \xE2\x80\x94 its node still holds ",
                 s8(f.partner).c_str()) +
             db_text(b->parked_gain_db[f.partner_ch]) + u" dB.";
      else
        mn = fmt("Unlinking hands %s its own head amp back.", s8(f.partner).c_str());
      note_under(g, x, y, mn, pal::dim);
    }
  }

  // Routing.
  section(g, x, y, u"Routing");
  y += 7;
  if (f.x32) {
    draw_text_centred(g, u"Routing is set on the desk.", fText, pal::muted, x + 14, y, kCardW - 28,
                      29, true, kCardW - 28);
  } else {
    const float rw = text_width(g, u"Reroute\u2026", fButton) + 27 + 11;
    const float rx = x + kCardW - 14 - rw;
    const bool hov = pc.hover_id == 24;
    g.fill_round_rect(hov ? 0xFF232C35 : 0xFF1B222A, rx, y, rw, 29, 6);
    add_rounded_rect(g, 0xFF2F3B46, rx, y, rw, 29, 6);
    draw_reroute_glyph(g, rx + 16, y + 14.5f, 14, pal::accent);
    draw_text_centred(g, u"Reroute\u2026", fButton, 0xFFCDD8DF, rx + 27, y, rw - 27, 29, false,
                      rw - 27);
    pc.regions.push_back({rx, y, rw, 29, 24, 1});
    draw_text_centred(g, f.unpatched ? u"Not patched" : u"Fed from " + f.source, fText, pal::text,
                      x + 14, y, rx - x - 22, 29, false, rx - x - 22);
  }
  y += 29 + 7;

  // Facts line.
  {
    std::u16string line;
    if (!f.amp)
      line = u"\u2014";
    else if (linked) {
      const char* pv = f.partner_ch >= 0 ? (b->phantom[f.partner_ch] ? "on" : "off") : "?";
      line = fmt("%s at %s \xC2\xB7 %s %s", f.phantom ? "on" : "off", s8(f.source).c_str(),
                 s8(f.partner).c_str(), pv);
    } else {
      line = fmt("%s at %s", f.phantom ? "on" : "off", s8(f.source).c_str());
    }
    fact_row(g, x, y, u"48V", line, pal::muted, u"", 0);
    const char* mw = f.mute == 1 ? "muted" : (f.mute == 2 ? "desk-muted" : "open");
    const double lv = clean_db(b->level_db[f.c]), pk = clean_db(b->peak_db[f.c]);
    std::u16string meter;
    if (!shm_load(b->meters_live))
      meter = f.x32 ? u"no meters from the X32 yet" : fmt("%s \xC2\xB7 no meter feed", mw);
    else if (lv > kNoLevelDb)
      meter = fmt("%s \xC2\xB7 ", mw) + db_text(lv) + u" dB \u00B7 peak " + db_text(pk);
    else
      meter = fmt("%s \xC2\xB7 no signal", mw);
    const std::u16string clip = bs.clips.latch[f.c] ? u"clipped this set" : u"no clips this set";
    fact_row(g, x, y, u"Signal", meter, pal::muted, clip,
             bs.clips.latch[f.c] ? pal::bad : pal::dim);
  }
  if (!reply.empty()) {
    const std::u16string r = from_utf8(reply);
    y += 4;
    y += draw_wrapped_text(g, r, fNote, pal::warn, x + 14, y, 272) + 8;
  }
  return y - top + 6;
}

void anchor_of(const BridgeState& bs, int c, float* cell_x, float* cell_y, float* cx) {
  const int cols = bs.columns > 0 ? bs.columns : 8;
  *cell_x = 16 + float(c % cols) * (bs.cell_w + 5);
  *cell_y = bs.grid_top + float(c / cols) * 83;
  *cx = *cell_x + bs.cell_w / 2;
}

void card_with_arrow(Canvas& g, const PopoverPlace& p, float w, float h, float anchor_cx,
                     float cell_y) {
  draw_shadow(g, p.x, p.y, w, h, 8);
  g.fill_round_rect(kCard, p.x, p.y, w, h, 8);
  add_rounded_rect(g, kOutline, p.x, p.y, w, h, 8);
  if (p.side == 0) return;
  const float tip = std::clamp(anchor_cx, p.x + 20, p.x + 280);
  // A small triangle pointing at the cell: a few stacked bars, widest at the card's edge.
  for (int i = 0; i < 7; ++i) {
    const float half = 7.0f - float(i);
    const float yy = p.side == 1 ? p.y - 1 - float(i) : p.y + h + float(i);
    g.fill_rect(kCard, tip - half, yy, half * 2, 1);
  }
  (void)cell_y;
}

// The link popover; returns its height.
float popover_body(Canvas& g, PaintContext& pc, const Facts& f, DashboardUiState& ui,
                   const std::string& reply, float x, float top, float w) {
  const StatusBlock* b = f.b;
  const float pad = 15.5f, iw = w - 2 * pad;
  float y = top + pad;
  const std::u16string pair = fmt("%s %u + %u", f.group.c_str(), f.odd, f.even);
  const std::u16string odd = fmt("%s %u", f.group.c_str(), f.odd),
                       even = fmt("%s %u", f.group.c_str(), f.even);
  const int odd_ch = find_channel(b, f.group, f.odd), even_ch = find_channel(b, f.group, f.even);
  const bool unlink = ui.link_op == 2;
  const bool switching = !unlink && f.link != 0;
  std::u16string title, sub, confirm;
  if (unlink)
    title = u"Unlink " + pair, sub = u"back to two mono inputs";
  else {
    const char* verb = ui.link_op == 3 ? (switching ? "M/S" : "M/S link") : "Link";
    title = fmt("%s %s", verb, s8(pair).c_str());
    sub = ui.link_op == 3 ? u"as a mid/side pair \u00B7 one head amp"
                          : u"as a stereo pair \u00B7 one head amp";
  }
  draw_text_box(g, title, fTitle, pal::text, x + pad, y, iw - 30, TextAlign::near_);
  draw_close_cross(g, x + w - pad - 11, y + 9, pal::muted);
  pc.regions.push_back({x + w - pad - 22, y - 2, 22, 22, 25, 1});
  y += 18;
  draw_text_box(g, sub, fNote, pal::muted, x + pad, y, iw, TextAlign::near_);
  y += 22;
  auto para = [&](const std::u16string& t, Argb c) {
    y += draw_paragraph(g, true, t, fText, fEmph, c, 0xFF5E6F7C, x + pad, y, iw, fText.px * 1.35f) +
         8;
  };
  const bool odd_amp = odd_ch >= 0, even_amp = even_ch >= 0;
  const double odd_gain = odd_amp ? b->gain_db[odd_ch] : 0,
               even_gain = even_amp ? b->gain_db[even_ch] : 0;
  const char16_t E = kEmphasisMark, S = kSecondaryMark;
  if (!unlink) {
    if (!odd_amp && !even_amp) {
      para(fmt("Neither %s nor %s has a head amp, so there is no 48V and no gain to move.",
               s8(odd).c_str(), s8(even).c_str()),
           pal::text);
    } else {
      para(
          fmt("%s and %s become one stereo pair on the desk. LV1 sees them as a linked strip pair.",
              s8(odd).c_str(), s8(even).c_str()),
          pal::text);
      const bool p_odd = odd_amp && b->phantom[odd_ch], p_even = even_amp && b->phantom[even_ch];
      const bool prot_even = even_amp && block_version(b) >= 9 && b->is_protected[even_ch];
      const bool prot_odd = odd_amp && block_version(b) >= 9 && b->is_protected[odd_ch];
      if ((prot_even && p_odd) || (prot_odd && p_even)) {
        const std::u16string pr = prot_even ? even : odd, live = prot_even ? odd : even;
        para(fmt("%s is protected \xE2\x80\x94 never 48V.", s8(pr).c_str()), pal::bad);
        para(
            fmt("A ribbon, set at load-in. The desk links 48V across a linked pair, so this pair cannot be linked as it stands. Switching 48V off at %s makes it possible \xE2\x80\x94 but %s loses 48V, and a condenser there goes quiet.",
                s8(live).c_str(), s8(live).c_str()),
            pal::muted);
        ui.link_phantom_choice = 1;
        confirm = fmt("48V off at %s, then link", s8(live).c_str());
      } else if (p_odd == p_even) {
        para(p_odd ? fmt("48V is on at both %s and %s. Nothing changes there.", s8(odd).c_str(),
                         s8(even).c_str())
                   : fmt("48V is off at both %s and %s. Nothing moves.", s8(odd).c_str(),
                         s8(even).c_str()),
             pal::muted);
      } else {
        const std::u16string on = p_odd ? odd : even, off = p_odd ? even : odd;
        para(
            fmt("48V is on at %s and off at %s. The desk links 48V across a stereo pair, so linking can put 48V onto %s. Say what is plugged into it:",
                s8(on).c_str(), s8(off).c_str(), s8(off).c_str()),
            pal::warn);
        const std::u16string ans[2] = {
            fmt("Switch 48V off at %s first, then link. ", s8(on).c_str()) + S +
                u"Both legs end up off." + S,
            fmt("%s takes 48V \xE2\x80\x94 it is not a ribbon. ", s8(off).c_str()) + S +
                u"Link with 48V on both." + S};
        y = draw_choice_pair(g, pc, fText, fEmph, x, y, w, ans, {27, 28},
                             ui.link_phantom_choice ? 26 + ui.link_phantom_choice : 0, true);
      }
      if (odd_amp && even_amp)
        para(fmt("%s's head amp drives both legs at ", s8(odd).c_str()) + E + db_text(odd_gain) +
                 E + fmt(" dB. %s's own gain node (", s8(even).c_str()) + E + db_text(even_gain) +
                 E + u" dB) is set aside until unlinked.",
             pal::muted);
      else if (odd_amp)
        para(fmt("%s's head amp would drive both legs at ", s8(odd).c_str()) + E +
                 db_text(odd_gain) + E + u" dB.",
             pal::muted);
    }
    if (confirm.empty())
      confirm = fmt("%s %s", ui.link_op == 3 ? (switching ? "Switch to M/S" : "M/S link") : "Link",
                    s8(pair).c_str());
  } else {
    para(
        fmt("%s and %s go back to two mono inputs on the desk.", s8(odd).c_str(), s8(even).c_str()),
        pal::text);
    if (!odd_amp && !even_amp) {
      para(u"Neither has a head amp, so no gain or 48V moves.", pal::muted);
    } else {
      para(fmt("48V is per XLR: %s and %s each keep their own. Nothing moves.", s8(odd).c_str(),
               s8(even).c_str()),
           pal::muted);
      const bool parked = even_amp && block_version(b) >= 10 && b->parked_valid[even_ch];
      if (parked)
        para(fmt("%s gets its own head amp back. Its own node still holds ", s8(even).c_str()) + E +
                 db_text(b->parked_gain_db[even_ch]) + E +
                 u" dB \u2014 the figure from before the pair was linked.",
             pal::muted);
      else
        para(fmt("%s gets its own head amp back. Match keeps it at ", s8(even).c_str()) + E +
                 db_text(odd_gain) + E + u" dB so nothing jumps.",
             pal::muted);
      const std::u16string ans[2] = {
          fmt("Match \xE2\x80\x94 set %s to ", s8(even).c_str()) + E + db_text(odd_gain) + E +
              u" dB so nothing jumps. " + S + u"recommended" + S,
          parked ? u"Keep " + std::u16string(1, E) + db_text(b->parked_gain_db[even_ch]) + E +
                       fmt(" dB at %s \xE2\x80\x94 its own node's level.", s8(even).c_str())
                 : fmt("Keep %s at its own node's level. ", s8(even).c_str()) + S +
                       u"Kestrune cannot read it while linked." + S};
      y = draw_choice_pair(g, pc, fText, fEmph, x, y, w, ans, {29, 30}, 26 + ui.unlink_gain_choice,
                           true);
    }
    confirm = ui.unlink_gain_choice == 4 ? u"Unlink \u00B7 keep gain" : u"Unlink \u00B7 match gain";
  }
  // Buttons.
  y += 4;
  const float cw = text_width(g, u"Cancel", fButton) + 28;
  const float kw = std::min(iw - cw - 8, text_width(g, confirm, fButton) + 28);
  draw_button(g, pc, fButton, confirm, x + w - pad - kw, y, kw, 30, 26, true, true);
  draw_button(g, pc, fButton, u"Cancel", x + w - pad - kw - 8 - cw, y, cw, 30, 25, true, false);
  y += 30;
  if (!reply.empty()) {
    y += 8;
    y += draw_wrapped_text(g, from_utf8(reply), fNote, pal::warn, x + pad, y, iw);
  }
  return y + pad - top;
}

}  // namespace

float paint_channel_detail(Canvas& g, PaintContext& pc, const BridgeView& v, DashboardUiState& ui,
                           BridgeState& bs, BridgeLink& link, float W, float H) {
  const int c = ui.selected_channel;
  if (!v.block || c < 0 || c >= watched_channels(v.block)) return 0;
  take_action_outcome(ui, link);
  const Facts f = facts_of(v, c);
  float cell_x, cell_y, acx;
  anchor_of(bs, c, &cell_x, &cell_y, &acx);
  MeasureCanvas m(g);
  PaintContext scratch;
  if (ui.link_popover_open) {
    const float w = 340;
    const float h = popover_body(m, scratch, f, ui, ui.action_reply, 0, 0, w);
    const PopoverPlace p = place_popover(cell_x, acx, cell_y, w, h, W, H, bs.cell_w);
    card_with_arrow(g, p, w, h, acx, cell_y);
    popover_body(g, pc, f, ui, ui.action_reply, p.x, p.y, w);
    return h + 16;
  }
  const float h = channel_body(m, scratch, f, bs, ui.action_reply, 0, 0);
  const PopoverPlace p = place_popover(cell_x, acx, cell_y, kCardW, h, W, H, bs.cell_w);
  card_with_arrow(g, p, kCardW, h, acx, cell_y);
  channel_body(g, pc, f, bs, ui.action_reply, p.x, p.y);
  return h + 16;
}

}  // namespace ks::tray
