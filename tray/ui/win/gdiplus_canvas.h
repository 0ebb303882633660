// The live canvas: GDI+ in design units under a world scale, and the preview's PNG output.
#pragma once
#include <windows.h>

#include <memory>
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
  void stroke_polyline(Argb c, const Pt* pts, size_t n, bool closed, float pen, LineCap cap,
                       bool join_round) override;
  void stroke_arc(Argb c, float x, float y, float w, float h, float start, float sweep, float pen,
                  LineCap cap) override;
  void clear(Argb c) override;
  void set_antialias(bool on) override;
  void erase_line(float x1, float y1, float x2, float y2, float pen) override;
  void erase_rect(float x, float y, float w, float h) override;
  void draw_layer(int px, float x, float y, float size,
                  const std::function<void(Canvas&)>& paint) override;

private:
  struct Cache;  // fonts, the one brush and the string formats, made once per canvas
  Gdiplus::Graphics& g_;
  std::unique_ptr<Cache> cache_;
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

// Paints a setup page ("setup", "setupopen", "setupinstalled", "setupbusy") or a setup state
// ("setup-<state>") into a PNG at scale 1..4 and width (0: the default); the page is
// measured first so the image is as tall as its content. 0 written, 1 not written, 2 unknown
// page or state (message on standard error).
int render_setup_preview(const std::wstring& out, const std::string& page, int scale, int width);

}  // namespace ks::tray
