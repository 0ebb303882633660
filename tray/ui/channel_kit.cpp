#include "tray/ui/channel_kit.h"

#include <algorithm>

#include "tray/ui/lookups.h"

namespace ks::tray {

void draw_gear_glyph(Canvas& g, float cx, float cy, float s, Argb c) {
  const float pen = 0.18f * s;
  g.stroke_ellipse(c, cx - 0.33f * s, cy - 0.33f * s, 0.66f * s, 0.66f * s, pen);
  const float d[8][2] = {{1, 0}, {0.70711f, 0.70711f}, {0, 1}, {-0.70711f, 0.70711f},
                         {-1, 0}, {-0.70711f, -0.70711f}, {0, -1}, {0.70711f, -0.70711f}};
  for (const auto& v : d) g.line(c, cx + v[0] * 0.74f * s, cy + v[1] * 0.74f * s, cx + v[0] * s, cy + v[1] * s, pen);
}

void draw_reroute_glyph(Canvas& g, float cx, float cy, float size, Argb c) {
  const float u = size / 20;
  auto P = [&](float gx, float gy, float hx, float hy) {
    g.line(c, cx - 10 * u + gx * u, cy - 10 * u + gy * u, cx - 10 * u + hx * u, cy - 10 * u + hy * u, 1.8f);
  };
  P(3, 7, 15, 7), P(12, 4, 15, 7), P(15, 7, 12, 10);
  P(17, 13, 5, 13), P(8, 10, 5, 13), P(5, 13, 8, 16);
}

void draw_shield_glyph(Canvas& g, float cx, float cy, float size, Argb c) {
  const float u = size / 20, pen = 1.7f * u;
  const float pts[][2] = {{0, -7.5f}, {6, -5}, {6, -0.5f}, {0, 7.5f}, {-6, -0.5f}, {-6, -5}};
  for (int i = 0; i < 6; ++i) {
    const auto& a = pts[i];
    const auto& b = pts[(i + 1) % 6];
    g.line(c, cx + a[0] * u, cy + a[1] * u, cx + b[0] * u, cy + b[1] * u, pen);
  }
  g.line(c, cx - 2.7f * u, cy - 0.2f * u, cx - 0.8f * u, cy + 1.7f * u, pen);
  g.line(c, cx - 0.8f * u, cy + 1.7f * u, cx + 2.8f * u, cy - 2 * u, pen);
}

void draw_warning_glyph(Canvas& g, float cx, float cy, float r, Argb c, float pen) {
  g.line(c, cx, cy - r, cx + 1.15f * r, cy + 0.85f * r, pen);
  g.line(c, cx + 1.15f * r, cy + 0.85f * r, cx - 1.15f * r, cy + 0.85f * r, pen);
  g.line(c, cx - 1.15f * r, cy + 0.85f * r, cx, cy - r, pen);
  g.line(c, cx, cy - 0.2f * r, cx, cy + 0.3f * r, pen);
  g.fill_ellipse(c, cx - 0.9f, cy + 0.52f * r, 1.9f, 1.9f);
}

void draw_radio(Canvas& g, float cx, float cy, bool on) {
  const Argb c = on ? pal::accent : pal::muted;
  g.stroke_ellipse(c, cx - 6, cy - 6, 12, 12, 1.5f);
  if (on) g.fill_ellipse(c, cx - 2.5f, cy - 2.5f, 5, 5);
}

void draw_close_cross(Canvas& g, float cx, float cy, Argb c) {
  g.line(c, cx - 3.6f, cy - 3.6f, cx + 3.6f, cy + 3.6f, 1.7f);
  g.line(c, cx + 3.6f, cy - 3.6f, cx - 3.6f, cy + 3.6f, 1.7f);
}

std::u16string step_label(double step, bool up) {
  const int decimals = step < 1.0 ? 2 : 1;
  return up ? u"+" + db_text(step, decimals) : db_text(-step, decimals);
}

float step_button_width(Canvas& g, const FontSpec& f, double step) {
  return std::max(text_width(g, step_label(step, false), f), text_width(g, step_label(step, true), f)) + 14;
}

void draw_step_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text, float x,
                      float y, float w, int32_t id, bool enabled) {
  g.fill_round_rect(enabled ? 0xFF1B222A : 0xFF12181E, x, y, w, 22, 5);
  add_rounded_rect(g, enabled ? 0xFF2F3B46 : 0xFF26333C, x, y, w, 22, 5);
  draw_text_centred(g, text, f, enabled ? 0xFFCDD8DF : 0xFF4C5A64, x, y, w, 22, true, w);
  if (enabled) pc.regions.push_back({x, y, w, 22, id, 1});
}

float draw_segment_button(Canvas& g, const FontSpec& f, const std::u16string& text, float x, float y,
                          float h, bool inactive, bool selected, bool emphasised) {
  const float w = text_width(g, text, f) + 20;
  g.fill_round_rect(inactive ? 0xFF12181E : (selected ? 0xFF1B222A : 0xFF0A0D10), x, y, w, h, 6);
  add_rounded_rect(g, inactive ? 0xFF26333C : 0xFF2F3B46, x, y, w, h, 6);
  Argb tc;
  if (inactive) tc = selected ? 0xFF8FA1AE : 0xFF4C5A64;
  else tc = emphasised ? 0xFFE8737B : (selected ? 0xFFE8EEF2 : 0xFFB9C6CF);
  if (selected && !inactive) add_rounded_rect(g, 0xFF2F3B46, x - 1, y - 1, w + 2, h + 2, 7);
  draw_text_centred(g, text, f, tc, x, y, w, h, true, w);
  return w;
}

void draw_section_rule(Canvas& g, float card_left, float& y) {
  y += 3;
  g.fill_rect(0xFF1C242C, card_left + 14, y, 300 - 28, 1);
  y += 4;
}

float draw_choice_pair(Canvas& g, PaintContext& pc, const FontSpec& f, const FontSpec& emph, float left,
                       float y, float card_w, const std::u16string (&answers)[2], const int32_t (&ids)[2],
                       int32_t chosen, bool enabled) {
  const float lh = f.px * 1.35f;
  for (int i = 0; i < 2; ++i) {
    draw_radio(g, left + 17, y + 7, chosen == ids[i]);
    const float h = draw_paragraph(g, true, answers[i], f, emph, 0xFFE8EEF2, 0xFF5E6F7C, left + 31, y,
                                   card_w - 31 - 14, lh);
    pc.regions.push_back({left + 4, y - 2, card_w - 8, h + 6, ids[i], uint8_t(enabled ? 1 : 0)});
    y += h + 8;
  }
  return y;
}

}  // namespace ks::tray
