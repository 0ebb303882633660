// The preview's dashboard pages into a PNG: measured on a scratch bitmap first, so the image is
// as tall as what the page drew, never shorter than the dashboard's own height rule.
#include <windows.h>
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include <algorithm>
#include <cmath>

#include "tray/ui/dashboard_preview.h"
#include "tray/ui/win/dashboard_render.h"
#include "tray/ui/win/gdiplus_canvas.h"

using namespace Gdiplus;

namespace ks::tray {

int render_dashboard_preview(const std::wstring& out, const std::string& page, int scale,
                             int width) {
  scale = std::clamp(scale, 1, 4);
  width = std::max(width, 600);
  DashboardPreview p;
  if (!prepare_dashboard_preview(page, p)) return 2;
  GdiplusSession session;
  if (!session.ok()) return 1;
  int rc = 1;
  {
    const float W = float(width);
    float content = 0;
    {
      DashboardPreview scratch_p;
      prepare_dashboard_preview(page, scratch_p);
      Bitmap scratch(width, 64, PixelFormat32bppARGB);
      Graphics g(&scratch);
      GdiplusCanvas c(g);
      PaintContext pc;
      content = paint_status_page(c, pc, scratch_p.view, scratch_p.ui, scratch_p.bs, W);
      p.bs.hint_lines = scratch_p.bs.hint_lines;
    }
    const int rule = dashboard_height(-1, W, p.bs.hint_lines);
    const int h = std::max({rule, int(std::ceil(content)), 460});
    Bitmap image(width * scale, h * scale, PixelFormat32bppARGB);
    if (image.GetLastStatus() == Ok) {
      Graphics g(&image);
      if (scale != 1) g.ScaleTransform(REAL(scale), REAL(scale));
      g.SetSmoothingMode(SmoothingModeAntiAlias);
      g.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
      g.Clear(Color(pal::background));
      GdiplusCanvas c(g);
      PaintContext pc;
      paint_dashboard_preview(c, pc, p, W, float(h));
      rc = save_png(image, out) ? 0 : 1;
    }
  }
  return rc;
}

}  // namespace ks::tray
