// The dashboard's drawing kit: palette, rounded boxes, buttons that append their hit region,
// tones, text routines and paragraphs with marks, small controls and layout rules. Every
// page painter draws only through these and a Canvas.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tray/ui/canvas.h"

namespace ks::tray {

namespace pal {
inline constexpr Argb background = 0xFF0D1014;
inline constexpr Argb surface0 = 0xFF0A0D10, surface1 = 0xFF151A20, surface2 = 0xFF1B222A,
                      surface3 = 0xFF1C242C, surface4 = 0xFF242D36, surface5 = 0xFF2A333C;
inline constexpr Argb text = 0xFFE8EEF2, muted = 0xFF8FA1AE, dim = 0xFF5E6F7C;
inline constexpr Argb accent = 0xFF3FB6D4, warn = 0xFFE0A04A, ok = 0xFF5CC98A, bad = 0xFFE8737B,
                      bad_surface = 0xFF361A1D;
}  // namespace pal

struct HitRegion {
  float x = 0, y = 0, w = 0, h = 0;
  int32_t id = 0;
  uint8_t enabled = 0;
};

// What a frame's painters share: the regions they append and the hover id they read.
struct PaintContext {
  std::vector<HitRegion> regions;
  int32_t hover_id = 0;
};

struct ButtonColours {
  Argb fill, border, text;
};
enum class ButtonKind : uint8_t { plain, primary, danger };
ButtonColours button_colours(ButtonKind kind, bool enabled, bool hovered);

Argb tone_color(std::string_view tone);
Argb tone_border_color(std::string_view tone, Argb fallback);
Argb source_tag_colour(std::string_view group);

void fill_round_rect(Canvas& g, Argb c, float x, float y, float w, float h, float r);
// 1-pixel outline with its edges snapped to whole pixels, running through pixel centres.
void add_rounded_rect(Canvas& g, Argb c, float x, float y, float w, float h, float r);

void draw_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                 float x, float y, float w, float h, int32_t id, bool enabled, bool primary);
void draw_danger_button(Canvas& g, PaintContext& pc, const FontSpec& f, const std::u16string& text,
                        float x, float y, float w, float h, int32_t id, bool enabled);
float draw_button_at_right(Canvas& g, PaintContext& pc, const FontSpec& f,
                           const std::u16string& text, float right, float y, int32_t id,
                           bool enabled, bool primary, float h);

float text_width(Canvas& g, const std::u16string& t, const FontSpec& f);
float text_height(Canvas& g, const std::u16string& t, const FontSpec& f, float width);
float text_height_400(Canvas& g, const std::u16string& t, const FontSpec& f, float width);
void draw_text_box(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x, float y,
                   float width, TextAlign a);
void draw_text_centred(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x,
                       float y, float w, float h, bool centre_across, float width);
float draw_wrapped_text(Canvas& g, const std::u16string& t, const FontSpec& f, Argb c, float x,
                        float y, float width);

inline constexpr char16_t kEmphasisMark = u'\u0001';
inline constexpr char16_t kSecondaryMark = u'\u0002';
// Lays out (and with draw set, draws) a paragraph with emphasised and secondary runs;
// returns lines x line height (one line for no tokens).
float draw_paragraph(Canvas& g, bool draw, const std::u16string& text, const FontSpec& font,
                     const FontSpec& emphasis, Argb colour, Argb secondary, float x, float y,
                     float width, float line_height);

void draw_status_dot(Canvas& g, float x, float y, Argb c);
float draw_48v_badge(Canvas& g, const FontSpec& f, float x, float y, Argb c);
void draw_toggle(Canvas& g, PaintContext& pc, float x, float y, bool on, int32_t id, bool enabled);
// Stroked glyphs centred on (cx, cy), scaled from their size.
void draw_check_glyph(Canvas& g, float cx, float cy, float size, Argb c);
void draw_gear_glyph(Canvas& g, float cx, float cy, float size, Argb c);
void draw_reroute_glyph(Canvas& g, float cx, float cy, float size, Argb c);
void draw_shield_glyph(Canvas& g, float cx, float cy, float size, Argb c);
void draw_plug_glyph(Canvas& g, float cx, float cy, float size, Argb c);
void draw_warning_glyph(Canvas& g, float cx, float cy, float r, Argb c, float pen);
void draw_radio(Canvas& g, float cx, float cy, bool on);
void draw_shadow(Canvas& g, float x, float y, float w, float h, float r);
// The tray's state icon (linked) drawn into (x, y, size, size); returns the pixel size the
// bitmap is rendered at for the canvas's world scale.
int draw_state_icon(Canvas& g, float x, float y, float size, Argb c);

int dashboard_columns(float width);
int dashboard_height(int rows, float page_width, unsigned hint_lines);

struct PopoverPlace {
  float x = 0, y = 0;
  int32_t side = 0;  // 1 below the anchor, 2 above, 0 beside
};
PopoverPlace place_popover(float cell_left, float anchor_cx, float cell_top, float w, float h,
                           float area_w, float area_h, float cell_w);

}  // namespace ks::tray
