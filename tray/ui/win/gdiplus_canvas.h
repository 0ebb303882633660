// The live canvas: GDI+ in design units under a world scale, and the preview's PNG output.
#pragma once
#include <windows.h>

#include <string>

#include "tray/ui/canvas.h"

namespace Gdiplus {
class Graphics;
class Bitmap;
class StringFormat;
}  // namespace Gdiplus

namespace ks::tray {

class GdiplusCanvas : public Canvas {
 public:
  explicit GdiplusCanvas(Gdiplus::Graphics& g);
  ~GdiplusCanvas() override;
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
  float ascent(const FontSpec& f) override;
  float world_scale() const override;

 private:
  Gdiplus::Graphics& g_;
  Gdiplus::StringFormat* shared_;  // the measuring format, cloned per call where flags differ
};

// Starts GDI+ for the life of the object; every GDI+ object must be gone before it ends.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  bool ok() const { return ok_; }
 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

bool save_png(Gdiplus::Bitmap& image, const std::wstring& path);

// Paints the setup page of a preview state ("setup" or "setup-<state>") into a PNG: the page is
// measured first so the image is as tall as its content. 0 written, 1 not written, 2 unknown
// state (message on standard error).
int render_setup_preview(const std::wstring& out, const std::string& page, int scale, int width);

}  // namespace ks::tray
