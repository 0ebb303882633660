// A canvas that records what is drawn and measures text by a fixed rule: each UTF-16 unit is
// 0.55 of the font's size wide (0.6 bold), a line is 1.25 of the size high. Wrapping breaks
// at spaces the way the live backend does, so painters see the same shape of measures.
#pragma once
#include <string>
#include <vector>

#include "tray/ui/canvas.h"

namespace ks::tray {

struct DrawOp {
  enum Kind : uint8_t { k_rect, k_round_fill, k_round_stroke, k_ellipse_fill, k_ellipse_stroke,
                        k_line, k_text, k_wrapped } kind;
  Argb colour = 0;
  float x = 0, y = 0, w = 0, h = 0, r = 0;
  std::u16string text;  // for text: what was drawn after ellipsis trimming
  FontSpec font;
};

class RecordingCanvas : public Canvas {
 public:
  std::vector<DrawOp> ops;
  float scale = 1.0f;

  static float char_width(const FontSpec& f);
  static float line_height(const FontSpec& f) { return f.px * 1.25f; }

  void fill_rect(Argb c, float x, float y, float w, float h) override;
  void fill_round_rect(Argb c, float x, float y, float w, float h, float r) override;
  void stroke_round_rect(Argb c, float x, float y, float w, float h, float r, float pen) override;
  void fill_ellipse(Argb c, float x, float y, float w, float h) override;
  void stroke_ellipse(Argb c, float x, float y, float w, float h, float pen) override;
  void line(Argb c, float x1, float y1, float x2, float y2, float pen) override;
  TextSize measure(const std::u16string& text, const FontSpec& f, float box_w, float box_h,
                   bool wrap) override;
  void draw_line_text(const std::u16string& text, const FontSpec& f, Argb c, float x, float y,
                      float w, float h, TextAlign a) override;
  void draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c, float x, float y,
                    float w, float h) override;
  float ascent(const FontSpec& f) override { return f.px * 0.9f; }
  float world_scale() const override { return scale; }

  // Texts drawn, in order (tests look for them).
  std::vector<std::u16string> texts() const;
};

}  // namespace ks::tray
