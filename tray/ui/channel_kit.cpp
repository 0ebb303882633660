#include "tray/ui/channel_kit.h"

#include <algorithm>

#include "tray/ui/lookups.h"

namespace ks::tray {

void draw_close_cross(Canvas& g, float cx, float cy, Argb c) {
  g.line(c, cx - 3.6f, cy - 3.6f, cx + 3.6f, cy + 3.6f, 1.7f);
  g.line(c, cx + 3.6f, cy - 3.6f, cx - 3.6f, cy + 3.6f, 1.7f);
}

std::u16string step_label(double step, bool up) {
  const int decimals = step < 1.0 ? 2 : 1;
  return up ? u"+" + db_text(step, decimals) : db_text(-step, decimals);
}

float step_button_width(Canvas& g, const FontSpec& f, double step) {
  return std::max(text_width(g, step_label(step, false), f),
                  text_width(g, step_label(step, true), f)) +
         14;
}

void draw_step_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                      float x, float y, float w, int32_t id, bool enabled) {
  g.fill_round_rect(enabled ? 0xFF1B222A : 0xFF12181E, x, y, w, 22, 5);
  add_rounded_rect(g, enabled ? 0xFF2F3B46 : 0xFF26333C, x, y, w, 22, 5);
  draw_text_centred(g, text, f, enabled ? 0xFFCDD8DF : 0xFF4C5A64, x, y, w, 22, true, w);
  if (enabled) pc.regions.push_back({x, y, w, 22, id, 1});
}

float draw_segment_button(Canvas& g, const FontSpec& f, const std::u16string& text, float x,
                          float y, float h, bool inactive, bool selected, bool emphasised) {
  const float w = text_width(g, text, f) + 20;
  g.fill_round_rect(inactive ? 0xFF12181E : (selected ? 0xFF1B222A : 0xFF0A0D10), x, y, w, h, 6);
  add_rounded_rect(g, inactive ? 0xFF26333C : 0xFF2F3B46, x, y, w, h, 6);
  Argb tc;
  if (inactive)
    tc = selected ? 0xFF8FA1AE : 0xFF4C5A64;
  else
    tc = emphasised ? 0xFFE8737B : (selected ? 0xFFE8EEF2 : 0xFFB9C6CF);
  if (selected && !inactive) add_rounded_rect(g, 0xFF2F3B46, x - 1, y - 1, w + 2, h + 2, 7);
  draw_text_centred(g, text, f, tc, x, y, w, h, true, w);
  return w;
}

void draw_section_rule(Canvas& g, float card_left, float& y) {
  y += 3;
  g.fill_rect(0xFF1C242C, card_left + 14, y, 300 - 28, 1);
  y += 4;
}

float draw_choice_pair(Canvas& g, PaintContext& pc, const FontSpec& f, const FontSpec& emph,
                       float left, float y, float card_w, const std::u16string (&answers)[2],
                       const int32_t (&ids)[2], int32_t chosen, bool enabled) {
  const float lh = f.px * 1.35f;
  for (int i = 0; i < 2; ++i) {
    draw_radio(g, left + 17, y + 7, chosen == ids[i]);
    const float h = draw_paragraph(g, true, answers[i], f, emph, 0xFFE8EEF2, 0xFF5E6F7C, left + 31,
                                   y, card_w - 31 - 14, lh);
    pc.regions.push_back({left + 4, y - 2, card_w - 8, h + 6, ids[i], uint8_t(enabled ? 1 : 0)});
    y += h + 8;
  }
  return y;
}

}  // namespace ks::tray
