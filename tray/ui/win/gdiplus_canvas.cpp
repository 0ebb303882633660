#include "tray/ui/win/gdiplus_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

// GDI+'s C++ wrappers expect min and max from the Windows headers.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include "tray/ui/dialogs.h"
#include "tray/ui/kit.h"
#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/setup_page.h"

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

// One font per call, as the drawing routines make theirs.
struct FontFor {
  FontFamily family;
  Font font;
  explicit FontFor(const FontSpec& f)
      : family(std::wstring(f.family, f.family + strlen(f.family)).c_str()),
        font(&family, f.px,
             f.weight == FontWeight::bold ? FontStyleBold : FontStyleRegular, UnitPixel) {}
};

}  // namespace

GdiplusCanvas::GdiplusCanvas(Graphics& g) : g_(g) {
  shared_ = StringFormat::GenericTypographic()->Clone();
  shared_->SetFormatFlags(shared_->GetFormatFlags() | StringFormatFlagsMeasureTrailingSpaces);
}

GdiplusCanvas::~GdiplusCanvas() { delete shared_; }

void GdiplusCanvas::fill_rect(Argb c, float x, float y, float w, float h) {
  SolidBrush b{Color(c)};
  g_.FillRectangle(&b, x, y, w, h);
}

void GdiplusCanvas::fill_round_rect(Argb c, float x, float y, float w, float h, float r) {
  GraphicsPath p;
  round_path(p, x, y, w, h, r);
  SolidBrush b{Color(c)};
  g_.FillPath(&b, &p);
}

void GdiplusCanvas::stroke_round_rect(Argb c, float x, float y, float w, float h, float r,
                                      float pen) {
  GraphicsPath p;
  round_path(p, x, y, w, h, r);
  Pen pn(Color(c), pen);
  g_.DrawPath(&pn, &p);
}

void GdiplusCanvas::fill_ellipse(Argb c, float x, float y, float w, float h) {
  SolidBrush b{Color(c)};
  g_.FillEllipse(&b, x, y, w, h);
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

TextSize GdiplusCanvas::measure(const std::u16string& text, const FontSpec& f, float box_w,
                                float box_h, bool wrap) {
  if (text.empty()) return {0, 0};
  FontFor font(f);
  RectF out;
  if (!wrap) {
    g_.MeasureString(wide(text), -1, &font.font, PointF(0, 0), shared_, &out);
    return {out.Width, out.Height};
  }
  StringFormat* fmt = shared_->Clone();
  fmt->SetFormatFlags(fmt->GetFormatFlags() & ~StringFormatFlagsNoWrap);
  g_.MeasureString(wide(text), -1, &font.font, RectF(0, 0, box_w, box_h), fmt, &out);
  delete fmt;
  return {out.Width, out.Height};
}

void GdiplusCanvas::draw_line_text(const std::u16string& text, const FontSpec& f, Argb c,
                                   float x, float y, float w, float h, TextAlign a) {
  if (text.empty()) return;
  FontFor font(f);
  StringFormat* fmt = shared_->Clone();
  fmt->SetFormatFlags(fmt->GetFormatFlags() | StringFormatFlagsNoWrap);
  fmt->SetTrimming(StringTrimmingEllipsisCharacter);
  fmt->SetAlignment(a == TextAlign::centre ? StringAlignmentCenter
                    : a == TextAlign::far_ ? StringAlignmentFar
                                           : StringAlignmentNear);
  // Wine's GDI+ cuts a line at the box without the ellipsis, so the text is trimmed here:
  // the longest prefix that fits with the ellipsis after it.
  std::u16string shown = text;
  if (w > 0 && w < 4000) {
    RectF m;
    g_.MeasureString(wide(text), -1, &font.font, PointF(0, 0), shared_, &m);
    if (m.Width > w) {
      size_t lo = 0, hi = text.size();
      while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        const std::u16string t = text.substr(0, mid) + u"\u2026";
        g_.MeasureString(wide(t), -1, &font.font, PointF(0, 0), shared_, &m);
        if (m.Width <= w) lo = mid; else hi = mid - 1;
      }
      shown = text.substr(0, lo) + u"\u2026";
    }
  }
  SolidBrush b{Color(c)};
  g_.DrawString(wide(shown), -1, &font.font, RectF(x, y, w, h), fmt, &b);
  delete fmt;
}

void GdiplusCanvas::draw_wrapped(const std::u16string& text, const FontSpec& f, Argb c, float x,
                                 float y, float w, float h) {
  if (text.empty()) return;
  FontFor font(f);
  StringFormat* fmt = shared_->Clone();
  fmt->SetFormatFlags(fmt->GetFormatFlags() & ~StringFormatFlagsNoWrap);
  SolidBrush b{Color(c)};
  g_.DrawString(wide(text), -1, &font.font, RectF(x, y, w, h), fmt, &b);
  delete fmt;
}

float GdiplusCanvas::ascent(const FontSpec& f) {
  FontFor font(f);
  const INT style = font.font.GetStyle();
  const UINT16 em = font.family.GetEmHeight(style);
  if (em == 0) return f.px;
  return f.px * static_cast<float>(font.family.GetCellAscent(style)) / em;
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

namespace {

struct Prepared {
  JsonValue model;
  DashboardUiState ui;
};

void paint_all(Canvas& c, PaintContext& pc, const Prepared& p, float W, float H, bool lv1,
               float* content) {
  SetupPageInputs in;
  in.panel_open = {p.ui.setup_panel_open[0], p.ui.setup_panel_open[1]};
  auto res = paint_setup_page(c, pc, p.model, in, W);
  if (content) *content = res.content_height;
  if (p.ui.modal >= kModalConfirmOff) {
    pc.regions.clear();
    AddressInputs ai;
    ai.console = p.ui.pending_console >= 0 ? p.ui.pending_console : 0;
    ai.message = std::u16string(p.ui.address_message.begin(), p.ui.address_message.end());
    paint_confirm_dialog(c, pc, p.model, {p.ui.modal, p.ui.pending_console, lv1}, W, H, &ai);
  }
}

}  // namespace

int render_setup_preview(const std::wstring& out, const std::string& page, int scale,
                         int width) {
  scale = std::clamp(scale, 1, 4);
  width = std::max(width, 540);
  PreviewDemo demo;
  Prepared p;
  PageModelInputs inputs;
  inputs.version = "3.2.0";
  if (page.rfind("setup-", 0) == 0) {
    if (!apply_render_state(page, demo, p.ui, inputs)) {
      std::fprintf(stderr, "render: unknown setup state '%s'\n", page.c_str());
      return 2;
    }
  } else if (page.rfind("setup", 0) != 0) {
    std::fprintf(stderr, "render: unknown page '%s'\n", page.c_str());
    return 2;
  }
  DashboardState st;
  fill_demo_snapshot(demo, st);
  if (!parse_page_model(build_page_model(st, inputs), p.model)) return 1;

  GdiplusSession session;
  if (!session.ok()) return 1;
  int rc = 1;
  {
    float content = 0;
    {
      Bitmap scratch(width, 64, PixelFormat32bppARGB);
      Graphics g(&scratch);
      GdiplusCanvas c(g);
      PaintContext pc;
      paint_all(c, pc, p, static_cast<float>(width), 64, demo.lv1_running, &content);
    }
    const int h = std::max(1, static_cast<int>(std::ceil(content)));
    Bitmap image(width * scale, h * scale, PixelFormat32bppARGB);
    if (image.GetLastStatus() == Ok) {
      Graphics g(&image);
      if (scale != 1) g.ScaleTransform(static_cast<REAL>(scale), static_cast<REAL>(scale));
      g.SetSmoothingMode(SmoothingModeAntiAlias);
      g.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
      g.Clear(Color(pal::background));
      GdiplusCanvas c(g);
      PaintContext pc;
      paint_all(c, pc, p, static_cast<float>(width), static_cast<float>(h), demo.lv1_running,
                nullptr);
      rc = save_png(image, out) ? 0 : 1;
    }
  }  // every GDI+ object is gone before the session shuts GDI+ down
  return rc;
}

}  // namespace ks::tray
