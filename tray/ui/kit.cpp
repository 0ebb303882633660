#include "tray/ui/kit.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "tray/ui/state_icon.h"

namespace ks::tray {

namespace {
bool ieq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
}  // namespace

ButtonColours button_colours(ButtonKind kind, bool enabled, bool hovered) {
  if (!enabled) return {0xFF12181E, 0xFF26333C, 0xFF4C5A64};
  switch (kind) {
    case ButtonKind::primary:
      return hovered ? ButtonColours{0xFF163F4D, 0xFF2B7D99, 0xFF7FD4EA}
                     : ButtonColours{0xFF12333F, 0xFF1F6178, 0xFF7FD4EA};
    case ButtonKind::danger:
      return hovered ? ButtonColours{0xFF26181B, 0xFF7D383E, 0xFFE8737B}
                     : ButtonColours{0xFF1C1214, 0xFF5E2A2F, 0xFFE8737B};
    case ButtonKind::plain: break;
  }
  return hovered ? ButtonColours{0xFF232C35, 0xFF3D4B59, 0xFFCDD8DF}
                 : ButtonColours{0xFF1B222A, 0xFF2F3B46, 0xFFCDD8DF};
}

Argb tone_color(std::string_view t) {
  if (t == "ok") return pal::ok;
  if (t == "warn") return pal::warn;
  if (t == "bad") return pal::bad;
  if (t == "lv1") return pal::accent;
  return pal::muted;
}

Argb tone_border_color(std::string_view t, Argb fallback) {
  if (t == "warn") return 0xFF4A3A22;
  if (t == "bad") return 0xFF5E2A2F;
  return fallback;
}

Argb source_tag_colour(std::string_view g) {
  if (ieq(g, "LCL")) return pal::accent;
  if (ieq(g, "A") || ieq(g, "AES")) return pal::warn;
  if (ieq(g, "B")) return 0xFF6D78E6;
  if (ieq(g, "C")) return 0xFFD97BC8;
  if (ieq(g, "SC")) return 0xFF7F8C99;
  return 0xFF2A333C;
}

void fill_round_rect(Canvas& g, Argb c, float x, float y, float w, float h, float r) {
  g.fill_round_rect(c, x, y, w, h, r);
}

void add_rounded_rect(Canvas& g, Argb c, float x, float y, float w, float h, float r) {
  const float l = std::floor(x + 0.5f), t = std::floor(y + 0.5f);
  const float rr = std::floor(x + w + 0.5f), b = std::floor(y + h + 0.5f);
  g.stroke_round_rect(c, l + 0.5f, t + 0.5f, rr - l - 1.0f, b - t - 1.0f, r, 1.0f);
}

namespace {
void append_region(PaintContext& pc, float x, float y, float w, float h, int32_t id, bool enabled) {
  pc.regions.push_back({x, y, w, h, id, static_cast<uint8_t>(enabled ? 1 : 0)});
}
bool hovered(const PaintContext& pc, int32_t id, bool enabled) {
  return enabled && id != 0 && id == pc.hover_id;
}
}  // namespace

void draw_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                 float x, float y, float w, float h, int32_t id, bool enabled, bool primary) {
  auto col = button_colours(primary ? ButtonKind::primary : ButtonKind::plain, enabled,
                            hovered(pc, id, enabled));
  g.fill_round_rect(col.fill, x, y, w, h, 6);
  add_rounded_rect(g, col.border, x, y, w, h, 6);
  draw_text_centred(g, text, f, col.text, x, y, w, h, true, 0);
  append_region(pc, x, y, w, h, id, enabled);
}

void draw_danger_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                        float x, float y, float w, float h, int32_t id, bool enabled) {
  auto col = button_colours(ButtonKind::danger, enabled, hovered(pc, id, enabled));
  g.fill_round_rect(col.fill, x, y, w, h, 6);
  add_rounded_rect(g, col.border, x, y, w, h, 6);
  draw_plug_glyph(g, x + 22, y + h / 2, 12, col.text);
  draw_text_centred(g, text, f, col.text, x + 34, y, w - 34, h, false, 0);
  append_region(pc, x, y, w, h, id, enabled);
}

float draw_button_at_right(Canvas& g, PaintContext& pc, const FontSpec& f,
                           const std::u16string& text, float right, float y, int32_t id,
                           bool enabled, bool primary, float h) {
  const float w = text_width(g, text, f) + 32;
  draw_button(g, pc, f, text, right - w, y, w, h, id, enabled, primary);
  return w;
}

float text_width(Canvas& g, const std::u16string& t, const FontSpec& f) {
  return g.measure(t, f, 0, 0, false).w;
}
float text_height(Canvas& g, const std::u16string& t, const FontSpec& f, float width) {
  return g.measure(t, f, width, 600, true).h;
}
float text_height_400(Canvas& g, const std::u16string& t, const FontSpec& f, float width) {
  return g.measure(t, f, width, 400, true).h;
}

void draw_text_box(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x, float y,
                   float width, TextAlign a) {
  g.draw_line_text(t, f, c, x, y, width > 0 ? width : 4000, 200, a);
}

void draw_text_centred(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x,
                       float y, float w, float h, bool centre_across, float width) {
  const TextSize s = g.measure(t, f, 0, 0, false);
  const float tx = centre_across ? x + (w - s.w) / 2 : x;
  draw_text_box(g, t, f, c, tx, y + (h - s.h) / 2, width, TextAlign::near_);
}

float draw_wrapped_text(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x,
                        float y, float width) {
  g.draw_wrapped(t, f, c, x, y, width, 400);
  return text_height_400(g, t, f, width);
}

float draw_paragraph(Canvas& g, bool draw, const std::u16string& text, const FontSpec& font,
                     const FontSpec& emphasis, Argb colour, Argb secondary, float x, float y,
                     float width, float line_height) {
  struct Token {
    std::u16string s;
    unsigned style;
  };
  std::vector<Token> toks;
  unsigned style = 0;
  std::u16string word;
  auto flush = [&] {
    if (!word.empty()) toks.push_back({word, style});
    word.clear();
  };
  for (char16_t ch : text) {
    if (ch == kEmphasisMark || ch == kSecondaryMark || ch == u' ') {
      flush();
      if (ch == u' ')
        toks.push_back({u" ", style});
      else
        style ^= ch == kEmphasisMark ? 1u : 2u;
    } else {
      word.push_back(ch);
    }
  }
  flush();

  const float shift = g.ascent(font) - g.ascent(emphasis);
  auto width_of = [&](const Token& t) {
    return text_width(g, t.s, (t.style & 1) ? emphasis : font);
  };
  float pen = x, py = y;
  int lines = 1;
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    if (t.s == u" ") {
      if (pen == x) continue;
      const float sw = width_of(t);
      const float nw = i + 1 < toks.size() ? width_of(toks[i + 1]) : 0;
      if ((pen - x) + sw + nw > width) {
        pen = x;
        py += line_height;
        ++lines;
      } else {
        pen += sw;
      }
      continue;
    }
    const float w = width_of(t);
    if (pen != x && (pen - x) + w > width) {
      pen = x;
      py += line_height;
      ++lines;
    }
    if (draw) {
      const bool emph = t.style & 1;
      draw_text_box(g, t.s, emph ? emphasis : font, (t.style & 2) ? secondary : colour, pen,
                    emph ? py + shift : py, 0, TextAlign::near_);
    }
    pen += w;
  }
  return static_cast<float>(lines) * line_height;
}

void draw_status_dot(Canvas& g, float x, float y, Argb c) { g.fill_ellipse(c, x, y - 4, 8, 8); }

float draw_48v_badge(Canvas& g, const FontSpec& f, float x, float y, Argb c) {
  const std::u16string t = c == pal::bad ? u"48V" : u"48V OFF";
  const float w = text_width(g, t, f) + 10;
  add_rounded_rect(g, c, x, y, w, 17, 3);
  draw_text_centred(g, t, f, c, x, y, w, 17, true, 0);
  return w;
}

void draw_toggle(Canvas& g, PaintContext& pc, float x, float y, bool on, int32_t id, bool enabled) {
  const bool hov = hovered(pc, id, enabled);
  const Argb fill = on ? (hov ? 0xFF3FAE72 : 0xFF369E66) : (hov ? 0xFF232C35 : 0xFF1B222A);
  g.fill_round_rect(fill, x + 0.5f, y + 0.5f, 43, 23, 11.5f);
  g.stroke_round_rect(on ? 0xFF5CC98A : 0xFF3D4B57, x + 0.5f, y + 0.5f, 43, 23, 11.5f, 1);
  if (on)
    g.fill_ellipse(0xFFFFFFFF, x + 24, y + 4, 16, 16);
  else
    g.fill_ellipse(pal::muted, x + 4, y + 4, 16, 16);
  if (!enabled) g.fill_round_rect(0x96151A20, x + 0.5f, y + 0.5f, 43, 23, 11.5f);
  append_region(pc, x, y, 44, 24, id, enabled);
}

void draw_check_glyph(Canvas& g, float cx, float cy, float s, Argb c) {
  const Pt pts[3] = {
      {cx - s, cy + 0.1f * s}, {cx - 0.25f * s, cy + 0.75f * s}, {cx + s, cy - 0.7f * s}};
  g.line(c, pts[0].x, pts[0].y, pts[1].x, pts[1].y, 1.3f);
  g.line(c, pts[1].x, pts[1].y, pts[2].x, pts[2].y, 1.3f);
}

void draw_gear_glyph(Canvas& g, float cx, float cy, float s, Argb c) {
  const float pen = 0.18f * s, r = 0.33f * s;
  g.stroke_ellipse(c, cx - r, cy - r, 2 * r, 2 * r, pen);
  constexpr float k = 0.70711f;
  const float dirs[8][2] = {{1, 0}, {k, k}, {0, 1}, {-k, k}, {-1, 0}, {-k, -k}, {0, -1}, {k, -k}};
  for (auto& d : dirs) {
    const Pt spoke[2] = {{cx + 0.74f * s * d[0], cy + 0.74f * s * d[1]},
                         {cx + s * d[0], cy + s * d[1]}};
    g.stroke_polyline(c, spoke, 2, false, pen, LineCap::round, false);
  }
}

namespace {
// A point of the 20 x 20 glyph grid centred on (cx, cy), in units of u.
Pt grid(float cx, float cy, float u, float gx, float gy) {
  return {cx - 10 * u + gx * u, cy - 10 * u + gy * u};
}
}  // namespace

void draw_reroute_glyph(Canvas& g, float cx, float cy, float size, Argb c) {
  const float u = size / 20;
  auto p = [&](float x, float y) { return grid(cx, cy, u, x, y); };
  const Pt top[2] = {p(3, 7), p(15, 7)}, top_head[3] = {p(12, 4), p(15, 7), p(12, 10)};
  const Pt low[2] = {p(17, 13), p(5, 13)}, low_head[3] = {p(8, 10), p(5, 13), p(8, 16)};
  for (auto* path : {top, low}) g.stroke_polyline(c, path, 2, false, 1.8f, LineCap::round, true);
  for (auto* path : {top_head, low_head})
    g.stroke_polyline(c, path, 3, false, 1.8f, LineCap::round, true);
}

void draw_shield_glyph(Canvas& g, float cx, float cy, float size, Argb c) {
  const float u = size / 20, pen = 1.7f * u;
  const Pt outline[6] = {{cx, cy - 7.5f * u},         {cx + 6 * u, cy - 5 * u},
                         {cx + 6 * u, cy - 0.5f * u}, {cx, cy + 7.5f * u},
                         {cx - 6 * u, cy - 0.5f * u}, {cx - 6 * u, cy - 5 * u}};
  g.stroke_polyline(c, outline, 6, true, pen, LineCap::round, true);
  const Pt check[3] = {
      {cx - 2.7f * u, cy - 0.2f * u}, {cx - 0.8f * u, cy + 1.7f * u}, {cx + 2.8f * u, cy - 2 * u}};
  g.stroke_polyline(c, check, 3, false, pen, LineCap::round, true);
}

void draw_plug_glyph(Canvas& g, float cx, float cy, float size, Argb c) {
  const float u = size / 20, pen = size / 18 * 1.7f;
  auto p = [&](float x, float y) { return grid(cx, cy, u, x, y); };
  const Pt bar[2] = {p(4, 6), p(16, 6)};
  const Pt prong[4] = {p(8, 6), p(8, 4), p(12, 4), p(12, 6)};
  const Pt body[4] = {p(6, 6), p(7, 16), p(13, 16), p(14, 6)};
  g.stroke_polyline(c, bar, 2, false, pen, LineCap::round, true);
  g.stroke_polyline(c, prong, 4, false, pen, LineCap::round, true);
  g.stroke_polyline(c, body, 4, false, pen, LineCap::round, true);
}

void draw_warning_glyph(Canvas& g, float cx, float cy, float r, Argb c, float pen) {
  const Pt tri[3] = {
      {cx, cy - r}, {cx + 1.15f * r, cy + 0.85f * r}, {cx - 1.15f * r, cy + 0.85f * r}};
  g.stroke_polyline(c, tri, 3, true, pen, LineCap::round, true);
  const Pt bar[2] = {{cx, cy - 0.2f * r}, {cx, cy + 0.3f * r}};
  g.stroke_polyline(c, bar, 2, false, pen, LineCap::round, true);
  g.fill_ellipse(c, cx - 0.9f, cy + 0.52f * r, 1.9f, 1.9f);
}

void draw_radio(Canvas& g, float cx, float cy, bool on) {
  const Argb c = on ? pal::accent : pal::muted;
  g.stroke_ellipse(c, cx - 6, cy - 6, 12, 12, 1.5f);
  if (on) g.fill_ellipse(pal::accent, cx - 2.5f, cy - 2.5f, 5, 5);
}

void draw_shadow(Canvas& g, float x, float y, float w, float h, float r) {
  for (int i = 10; i >= 1; --i) {
    const float d = 3.2f * static_cast<float>(i);
    const Argb alpha = static_cast<Argb>(43 - 4 * i);
    g.fill_round_rect(alpha << 24, x - d, y - d + 12, w + 2 * d, h + 2 * d, r + d);
  }
}

int draw_state_icon(Canvas& g, float x, float y, float size, Argb c) {
  float s = g.world_scale();
  if (!(s > 0.5f && s < 8.0f)) s = 1;
  const int px = static_cast<int>(size * s + 0.5f);
  // Painted at the device size it will cover, so the ring stays crisp at any scale.
  g.draw_layer(px, x, y, size,
               [&](Canvas& layer) { paint_state_icon(layer, px, kIconLinked, false, &c); });
  return px;
}

int dashboard_columns(float width) {
  if ((width - 32 - 15 * 5) / 16 >= 96) return 16;
  if ((width - 32 - 7 * 5) / 8 >= 96) return 8;
  return 4;
}

int dashboard_height(int rows, float page_width, unsigned hint_lines) {
  if (rows < 0) {
    const int cols = dashboard_columns(page_width);
    rows = (64 + cols - 1) / cols;
  }
  const double h = rows * 83.0 + 171 + 10 + 16 + (hint_lines * 15.0 - 15) + 16;
  return static_cast<int>(std::lround(h));
}

PopoverPlace place_popover(float cell_left, float anchor_cx, float cell_top, float w, float h,
                           float area_w, float area_h, float cell_w) {
  PopoverPlace p;
  p.x = anchor_cx - w / 2;
  if (p.x < 16) p.x = 16;
  if (p.x > area_w - 16 - w) p.x = area_w - 16 - w;
  if (area_h - 8 >= cell_top + 78 + 8 + h) {
    p.y = cell_top + 78 + 8;
    p.side = 1;
    return p;
  }
  if (cell_top - 8 - h >= 8) {
    p.y = cell_top - 8 - h;
    p.side = 2;
    return p;
  }
  p.side = 0;
  p.y = cell_top + 39 - h / 2;
  if (p.y < 8) p.y = 8;
  if (p.y > area_h - 8 - h) p.y = area_h - 8 - h;
  if (area_w / 2 > anchor_cx) {
    p.x = cell_left + cell_w + 8;
    if (p.x > area_w - 16 - w) p.x = area_w - 16 - w;
  } else {
    p.x = cell_left - 8 - w;
    if (p.x < 16) p.x = 16;
  }
  return p;
}

}  // namespace ks::tray
