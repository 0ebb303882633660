// One canvas interface for every painter of the dashboard. The live backend draws with GDI+;
// the recording backend keeps the calls and measures text by a fixed rule, so the painters'
// geometry and hit regions can be checked without a window.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace ks::tray {

using Argb = uint32_t;

enum class FontWeight : uint8_t { regular, semibold, bold };

struct FontSpec {
  const char* family = "Segoe UI";
  float px = 12.0f;  // pixel size in design units
  FontWeight weight = FontWeight::regular;
};

struct TextSize {
  float w = 0;
  float h = 0;
};

enum class TextAlign : uint8_t { near_, centre, far_ };

struct Pt {
  float x = 0, y = 0;
};

enum class LineCap : uint8_t { round, flat };

class Canvas {
public:
  virtual ~Canvas() = default;
  virtual void fill_rect(Argb c, float x, float y, float w, float h) = 0;
  virtual void fill_round_rect(Argb c, float x, float y, float w, float h, float r) = 0;
  virtual void stroke_round_rect(Argb c, float x, float y, float w, float h, float r,
                                 float pen) = 0;
  virtual void fill_ellipse(Argb c, float x, float y, float w, float h) = 0;
  virtual void stroke_ellipse(Argb c, float x, float y, float w, float h, float pen) = 0;
  virtual void line(Argb c, float x1, float y1, float x2, float y2, float pen) = 0;
  // Size of text laid out in a box of the given width (0: unbounded) and height, wrapping
  // at words when wrap is set; text beyond the box's height is not measured.
  virtual TextSize measure(const std::u16string& text, const FontSpec& f, float box_w, float box_h,
                           bool wrap) = 0;
  // One line in (x, y, w, h); characters that do not fit give way to an ellipsis.
  virtual void draw_line_text(const std::u16string& text, const FontSpec& f, Argb c, float x,
                              float y, float w, float h, TextAlign a) = 0;
  // Wrapped text in (x, y, w, h).
  virtual void draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c, float x, float y,
                            float w, float h) = 0;
  // Ascent of the font in pixels (the font's size when the family gives no em height).
  virtual float ascent(const FontSpec& f) = 0;
  // Horizontal world scale of the canvas (1 when unscaled).
  virtual float world_scale() const = 0;

  // Strokes; a backend that lacks one draws nothing for it.
  // An open or closed polyline; round joins when join_round is set.
  virtual void stroke_polyline(Argb c, const Pt* pts, size_t n, bool closed, float pen, LineCap cap,
                               bool join_round) {
    for (size_t i = 0; i + 1 < n; ++i) line(c, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pen);
    if (closed && n > 2) line(c, pts[n - 1].x, pts[n - 1].y, pts[0].x, pts[0].y, pen);
  }
  // An arc of the ellipse in (x, y, w, h), angles in degrees clockwise from 3 o'clock.
  virtual void stroke_arc(Argb, float, float, float, float, float, float, float, LineCap) {}
  // Clears everything to the colour (transparent for 0).
  virtual void clear(Argb c) { fill_rect(c, -1e5f, -1e5f, 2e5f, 2e5f); }
  virtual void set_antialias(bool) {}
  // Makes pixels transparent, replacing what is there (copy compositing).
  virtual void erase_line(float, float, float, float, float) {}
  virtual void erase_rect(float, float, float, float) {}
  // Paints into a transparent px x px layer of its own and draws that into (x, y, size, size).
  virtual void draw_layer(int px, float x, float y, float size,
                          const std::function<void(Canvas&)>& paint) {
    (void)px, (void)x, (void)y, (void)size, (void)paint;
  }
};

}  // namespace ks::tray
