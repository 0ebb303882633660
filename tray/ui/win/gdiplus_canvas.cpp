#include "tray/ui/win/gdiplus_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

// GDI+'s C++ wrappers expect min and max from the Windows headers.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include "tray/ui/kit.h"

namespace ks::tray {

using namespace Gdiplus;

namespace {

const WCHAR* wide(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }

void round_path(GraphicsPath& p, float x, float y, float w, float h, float r) {
  const float d = std::max(0.0f, std::min({2 * r, w, h}));
  if (d <= 0) {
    p.AddRectangle(RectF(x, y, w, h));
    return;
  }
  p.AddArc(x, y, d, d, 180, 90);
  p.AddArc(x + w - d, y, d, d, 270, 90);
  p.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  p.AddArc(x, y + h - d, d, d, 90, 90);
  p.CloseFigure();
}

}  // namespace

// A canvas lives for one paint; what it makes once is used by every call of that paint, so
// the cost of a frame is the drawing and not the making of fonts and formats.
struct GdiplusCanvas::Cache {
  struct FontEntry {
    std::string family;
    float px;
    FontWeight weight;
    std::unique_ptr<FontFamily> fam;
    std::unique_ptr<Font> font;
  };
  std::vector<FontEntry> fonts;
  // Measures already taken this paint: the page measures many texts more than once (a button
  // for its width, then again to centre its label), and each measure is a costly GDI+ call.
  std::unordered_map<std::u16string, TextSize> measured;
  SolidBrush brush{Color(0)};
  std::unique_ptr<StringFormat> shared;   // the measuring format
  std::unique_ptr<StringFormat> wrap;     // the same with wrapping
  std::unique_ptr<StringFormat> line[3];  // one line, ellipsis, by alignment

  Cache() {
    shared.reset(StringFormat::GenericTypographic()->Clone());
    shared->SetFormatFlags(shared->GetFormatFlags() | StringFormatFlagsMeasureTrailingSpaces);
    wrap.reset(shared->Clone());
    wrap->SetFormatFlags(wrap->GetFormatFlags() & ~StringFormatFlagsNoWrap);
    const StringAlignment al[3] = {StringAlignmentNear, StringAlignmentCenter, StringAlignmentFar};
    for (int i = 0; i < 3; ++i) {
      line[i].reset(shared->Clone());
      line[i]->SetFormatFlags(line[i]->GetFormatFlags() | StringFormatFlagsNoWrap);
      line[i]->SetTrimming(StringTrimmingEllipsisCharacter);
      line[i]->SetAlignment(al[i]);
    }
  }

  FontEntry& font(const FontSpec& f) {
    for (auto& e : fonts)
      if (e.px == f.px && e.weight == f.weight && e.family == f.family) return e;
    FontEntry e{f.family, f.px, f.weight, nullptr, nullptr};
    const std::wstring name(f.family, f.family + strlen(f.family));
    e.fam = std::make_unique<FontFamily>(name.c_str());
    e.font = std::make_unique<Font>(e.fam.get(), f.px,
                                    f.weight == FontWeight::bold ? FontStyleBold : FontStyleRegular,
                                    UnitPixel);
    fonts.push_back(std::move(e));
    return fonts.back();
  }

  SolidBrush& solid(Argb c) {
    brush.SetColor(Color(c));
    return brush;
  }
};

GdiplusCanvas::GdiplusCanvas(Graphics& g) : g_(g), cache_(std::make_unique<Cache>()) {}

GdiplusCanvas::~GdiplusCanvas() = default;

void GdiplusCanvas::fill_rect(Argb c, float x, float y, float w, float h) {
  g_.FillRectangle(&cache_->solid(c), x, y, w, h);
}

void GdiplusCanvas::fill_round_rect(Argb c, float x, float y, float w, float h, float r) {
  GraphicsPath p;
  round_path(p, x, y, w, h, r);
  g_.FillPath(&cache_->solid(c), &p);
}

void GdiplusCanvas::stroke_round_rect(Argb c, float x, float y, float w, float h, float r,
                                      float pen) {
  GraphicsPath p;
  round_path(p, x, y, w, h, r);
  Pen pn(Color(c), pen);
  g_.DrawPath(&pn, &p);
}

void GdiplusCanvas::fill_ellipse(Argb c, float x, float y, float w, float h) {
  g_.FillEllipse(&cache_->solid(c), x, y, w, h);
}

void GdiplusCanvas::stroke_ellipse(Argb c, float x, float y, float w, float h, float pen) {
  Pen pn(Color(c), pen);
  g_.DrawEllipse(&pn, x, y, w, h);
}

void GdiplusCanvas::line(Argb c, float x1, float y1, float x2, float y2, float pen) {
  Pen pn(Color(c), pen);
  pn.SetStartCap(LineCapRound);
  pn.SetEndCap(LineCapRound);
  pn.SetLineJoin(LineJoinRound);
  g_.DrawLine(&pn, x1, y1, x2, y2);
}

void GdiplusCanvas::stroke_polyline(Argb c, const Pt* pts, size_t n, bool closed, float pen,
                                    LineCap cap, bool join_round) {
  if (n < 2) return;
  Pen pn(Color(c), pen);
  const Gdiplus::LineCap gc = cap == LineCap::round ? LineCapRound : LineCapFlat;
  pn.SetStartCap(gc);
  pn.SetEndCap(gc);
  if (join_round) pn.SetLineJoin(LineJoinRound);
  std::vector<PointF> p;
  p.reserve(n);
  for (size_t i = 0; i < n; ++i) p.emplace_back(pts[i].x, pts[i].y);
  if (closed)
    g_.DrawPolygon(&pn, p.data(), static_cast<INT>(n));
  else
    g_.DrawLines(&pn, p.data(), static_cast<INT>(n));
}

void GdiplusCanvas::stroke_arc(Argb c, float x, float y, float w, float h, float start, float sweep,
                               float pen, LineCap cap) {
  Pen pn(Color(c), pen);
  const Gdiplus::LineCap gc = cap == LineCap::round ? LineCapRound : LineCapFlat;
  pn.SetStartCap(gc);
  pn.SetEndCap(gc);
  g_.DrawArc(&pn, x, y, w, h, start, sweep);
}

void GdiplusCanvas::clear(Argb c) { g_.Clear(Color(c)); }

void GdiplusCanvas::set_antialias(bool on) {
  g_.SetSmoothingMode(on ? SmoothingModeAntiAlias : SmoothingModeNone);
}

void GdiplusCanvas::erase_line(float x1, float y1, float x2, float y2, float pen) {
  const CompositingMode was = g_.GetCompositingMode();
  g_.SetCompositingMode(CompositingModeSourceCopy);
  Pen pn(Color(0, 0, 0, 0), pen);
  g_.DrawLine(&pn, x1, y1, x2, y2);
  g_.SetCompositingMode(was);
}

void GdiplusCanvas::erase_rect(float x, float y, float w, float h) {
  const CompositingMode was = g_.GetCompositingMode();
  g_.SetCompositingMode(CompositingModeSourceCopy);
  g_.FillRectangle(&cache_->solid(0), x, y, w, h);
  g_.SetCompositingMode(was);
}

void GdiplusCanvas::draw_layer(int px, float x, float y, float size,
                               const std::function<void(Canvas&)>& paint) {
  if (px < 1) return;
  Bitmap layer(px, px, PixelFormat32bppPARGB);
  if (layer.GetLastStatus() != Ok) return;
  {
    Graphics lg(&layer);
    lg.SetSmoothingMode(SmoothingModeAntiAlias);
    GdiplusCanvas lc(lg);
    paint(lc);
  }
  g_.DrawImage(&layer, RectF(x, y, size, size));
}

namespace {
template <typename T>
void append_bytes(std::u16string& key, const T& v) {
  char16_t units[(sizeof v + 1) / 2] = {};
  std::memcpy(units, &v, sizeof v);
  key.append(units, sizeof units / sizeof units[0]);
}
}  // namespace

TextSize GdiplusCanvas::measure(const std::u16string& text, const FontSpec& f, float box_w,
                                float box_h, bool wrap) {
  if (text.empty()) return {0, 0};
  auto& fe = cache_->font(f);
  std::u16string key = text;
  key.push_back(u'\0');
  append_bytes(key, fe.font.get());  // fonts live as long as the canvas
  append_bytes(key, wrap ? box_w : 0.0f);
  append_bytes(key, wrap ? box_h : 0.0f);
  key.push_back(wrap ? u'w' : u'l');
  if (auto it = cache_->measured.find(key); it != cache_->measured.end()) return it->second;
  RectF out;
  if (!wrap)
    g_.MeasureString(wide(text), -1, fe.font.get(), PointF(0, 0), cache_->shared.get(), &out);
  else
    g_.MeasureString(wide(text), -1, fe.font.get(), RectF(0, 0, box_w, box_h), cache_->wrap.get(),
                     &out);
  const TextSize size{out.Width, out.Height};
  cache_->measured.emplace(std::move(key), size);
  return size;
}

void GdiplusCanvas::draw_line_text(const std::u16string& text, const FontSpec& f, Argb c, float x,
                                   float y, float w, float h, TextAlign a) {
  if (text.empty()) return;
  Font* font = cache_->font(f).font.get();
  StringFormat* shared = cache_->shared.get();
  // Wine's GDI+ cuts a line at the box without the ellipsis, so the text is trimmed here:
  // the longest prefix that fits with the ellipsis after it.
  std::u16string shown = text;
  if (w > 0 && w < 4000 && measure(text, f, 0, 0, false).w > w) {
    RectF m;
    {
      size_t lo = 0, hi = text.size();
      while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        const std::u16string t = text.substr(0, mid) + u"\u2026";
        g_.MeasureString(wide(t), -1, font, PointF(0, 0), shared, &m);
        if (m.Width <= w)
          lo = mid;
        else
          hi = mid - 1;
      }
      shown = text.substr(0, lo) + u"\u2026";
    }
  }
  g_.DrawString(wide(shown), -1, font, RectF(x, y, w, h),
                cache_->line[static_cast<int>(a) % 3].get(), &cache_->solid(c));
}

void GdiplusCanvas::draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c, float x,
                                 float y, float w, float h) {
  if (text.empty()) return;
  g_.DrawString(wide(text), -1, cache_->font(f).font.get(), RectF(x, y, w, h), cache_->wrap.get(),
                &cache_->solid(c));
}

float GdiplusCanvas::ascent(const FontSpec& f) {
  auto& e = cache_->font(f);
  const INT style = e.font->GetStyle();
  const UINT16 em = e.fam->GetEmHeight(style);
  if (em == 0) return f.px;
  return f.px * static_cast<float>(e.fam->GetCellAscent(style)) / em;
}

float GdiplusCanvas::world_scale() const {
  Matrix m;
  g_.GetTransform(&m);
  REAL e[6];
  m.GetElements(e);
  return e[0];
}

GdiplusSession::GdiplusSession() {
  GdiplusStartupInput in;
  ok_ = GdiplusStartup(&token_, &in, nullptr) == Ok;
}

GdiplusSession::~GdiplusSession() {
  if (ok_) GdiplusShutdown(token_);
}

bool save_png(Bitmap& image, const std::wstring& path) {
  UINT n = 0, bytes = 0;
  if (GetImageEncodersSize(&n, &bytes) != Ok || bytes == 0) return false;
  std::vector<unsigned char> buf(bytes);
  auto* enc = reinterpret_cast<ImageCodecInfo*>(buf.data());
  if (GetImageEncoders(n, bytes, enc) != Ok) return false;
  for (UINT i = 0; i < n; ++i)
    if (enc[i].MimeType && wcscmp(enc[i].MimeType, L"image/png") == 0)
      return image.Save(path.c_str(), &enc[i].Clsid, nullptr) == Ok;
  return false;
}

}  // namespace ks::tray
