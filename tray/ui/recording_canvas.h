// A canvas that records what is drawn and measures text by a fixed rule: each UTF-16 unit is
// 0.55 of the font's size wide (0.6 bold), a line is 1.25 of the size high. Wrapping breaks
// at spaces the way the live backend does, so painters see the same shape of measures.
#pragma once
#include <string>
#include <vector>

#include "tray/ui/canvas.h"

namespace ks::tray {

struct DrawOp {
  enum Kind : uint8_t {
    k_rect,
    k_round_fill,
    k_round_stroke,
    k_ellipse_fill,
    k_ellipse_stroke,
    k_line,
    k_text,
    k_wrapped,
    k_polyline,
    k_arc,
    k_clear,
    k_erase_line,
    k_erase_rect,
    k_layer
  } kind;
  Argb colour = 0;
  float x = 0, y = 0, w = 0, h = 0, r = 0;
  std::u16string text;  // for text: what was drawn after ellipsis trimming
  FontSpec font;
  float pen = 0;
  std::vector<Pt> pts;  // polyline points
  bool closed = false;
  LineCap cap = LineCap::round;
  float start = 0, sweep = 0;  // arc angles
  bool antialias = true;       // the canvas's state when the op was drawn
  int layer = -1;              // k_layer: index into RecordingCanvas::layers; r is its px
};

class RecordingCanvas : public Canvas {
public:
  std::vector<DrawOp> ops;
  std::vector<std::vector<DrawOp>> layers;  // what each draw_layer painted, in its own pixels
  float scale = 1.0f;
  bool antialias = true;

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
  void stroke_polyline(Argb c, const Pt* pts, size_t n, bool closed, float pen, LineCap cap,
                       bool join_round) override;
  void stroke_arc(Argb c, float x, float y, float w, float h, float start, float sweep, float pen,
                  LineCap cap) override;
  void clear(Argb c) override;
  void set_antialias(bool on) override { antialias = on; }
  void erase_line(float x1, float y1, float x2, float y2, float pen) override;
  void erase_rect(float x, float y, float w, float h) override;
  void draw_layer(int px, float x, float y, float size,
                  const std::function<void(Canvas&)>& paint) override;

  // Texts drawn, in order (tests look for them).
  std::vector<std::u16string> texts() const;
};

}  // namespace ks::tray
