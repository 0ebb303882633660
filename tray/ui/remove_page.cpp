// The remove page: asks before the installation is removed, refuses while LV1 runs.
#include <algorithm>

#include "tray/ui/bridge_pages.h"
#include "tray/ui/channel_kit.h"

namespace ks::tray {

namespace {
const FontSpec fTitle{"Segoe UI", 15, FontWeight::bold};
const FontSpec fBody{"Segoe UI", 12.5f, FontWeight::regular};
const FontSpec fStatus{"Segoe UI", 11.5f, FontWeight::regular};
const FontSpec fButton{"Segoe UI Semibold", 12.5f, FontWeight::semibold};

const char16_t* title_of(bool lv1) {
  return lv1 ? u"Close eMotion LV1 first" : u"Remove Kestrune?";
}
const char16_t* body_of(bool lv1) {
  return lv1 ? u"LV1 holds the module open while it runs, so it can't be swapped underneath it. Quit LV1, then remove \u2014 the desk's own preamps carry on regardless."
             : u"LV1 goes back to the stock Waves module. You lose preamp gain and 48V control from LV1 until you install again \u2014 the console keeps working. Waves' module was never touched: Remove just deletes Kestrune's own bundle.";
}
}  // namespace

float remove_card_height(Canvas& g, bool lv1) {
  const float th = text_height(g, title_of(lv1), fTitle, 356);
  const float bh = text_height(g, body_of(lv1), fBody, 356);
  return std::max(th + 8 + bh + (lv1 ? 0 : 48), 34.0f) + 22 + (lv1 ? 18 : 20) + 34 + 20;
}

void paint_remove_page(Canvas& g, PaintContext& pc, bool lv1, float W, float H) {
  g.fill_rect(0x96040608, 0, 0, W, H);
  const float h = remove_card_height(g, lv1);
  const float x = (W - 452) / 2, y = (H - h) / 2;
  draw_shadow(g, x, y, 452, h, 10);
  g.fill_round_rect(0xFF151A20, x, y, 452, h, 10);
  add_rounded_rect(g, 0xFF2A333C, x, y, 452, h, 10);
  if (lv1) {
    g.fill_round_rect(0xFF1D1710, x + 24, y + 22, 34, 34, 8);
    add_rounded_rect(g, 0xFF5A4526, x + 24, y + 22, 34, 34, 8);
    draw_warning_glyph(g, x + 41, y + 38, 7, pal::warn, 1.7f);
  } else {
    g.fill_round_rect(0xFF1C1214, x + 24, y + 22, 34, 34, 8);
    add_rounded_rect(g, 0xFF5E2A2F, x + 24, y + 22, 34, 34, 8);
    draw_plug_glyph(g, x + 41, y + 39, 17, pal::bad);
  }
  const float th = text_height(g, title_of(lv1), fTitle, 356);
  draw_wrapped_text(g, title_of(lv1), fTitle, 0xFFE8EEF2, x + 72, y + 22, 356);
  const float bh =
      draw_wrapped_text(g, body_of(lv1), fBody, 0xFF9FB0BB, x + 72, y + 22 + th + 8, 356);
  if (!lv1) {
    const float sy = y + 22 + th + 8 + bh + 14, m = sy + 17;
    g.fill_round_rect(0xFF0A0D10, x + 72, sy, 356, 34, 6);
    add_rounded_rect(g, 0xFF1C242C, x + 72, sy, 356, 34, 6);
    g.line(pal::ok, x + 84, m - 0.5f, x + 87, m + 3, 1.8f);
    g.line(pal::ok, x + 87, m + 3, x + 93, m - 3.5f, 1.8f);
    draw_text_centred(g, u"eMotion LV1 is closed \u2014 ready to remove.", fStatus, 0xFF8FA1AE,
                      x + 107, sy, 310, 34, false, 310);
  }
  const float by = y + h - 20 - 34, right = x + 452 - 24;
  const std::u16string rt = u"Remove Kestrune";
  const float rw = text_width(g, rt, fButton) + 32 + (lv1 ? 0 : 20);
  if (lv1) {
    g.fill_round_rect(0xFF12181E, right - rw, by, rw, 34, 6);
    add_rounded_rect(g, 0xFF26333C, right - rw, by, rw, 34, 6);
    draw_text_centred(g, rt, fButton, 0xFF4C5A64, right - rw, by, rw, 34, true, rw);
  } else {
    g.fill_round_rect(0xFF7A2B31, right - rw, by, rw, 34, 6);
    add_rounded_rect(g, 0xFF7A2B31, right - rw, by, rw, 34, 6);
    draw_plug_glyph(g, right - rw + 22.5f, by + 17, 13, 0xFFFFF5F5);
    draw_text_centred(g, rt, fButton, 0xFFFFF5F5, right - rw + 36, by, rw - 36, 34, false, rw - 36);
  }
  pc.regions.push_back({right - rw, by, rw, 34, 13, uint8_t(lv1 ? 0 : 1)});
  const float cw = text_width(g, u"Cancel", fButton) + 32, cx = right - rw - 10 - cw;
  g.fill_round_rect(0xFF1B222A, cx, by, cw, 34, 6);
  add_rounded_rect(g, 0xFF2F3B46, cx, by, cw, 34, 6);
  draw_text_centred(g, u"Cancel", fButton, 0xFFCDD8DF, cx, by, cw, 34, true, cw);
  pc.regions.push_back({cx, by, cw, 34, 14, 1});
}

}  // namespace ks::tray
