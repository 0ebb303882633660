// "--render" for the setup pages: one measuring paint, then the page at its scale into an
// off-screen surface, written as PNG.
#include <algorithm>
#include <cstdio>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "tray/ui/setup_preview.h"
#include "tray/ui/win/dib_surface.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

using namespace Gdiplus;

int render_setup_preview(const std::wstring& out, const std::string& page, int scale, int width) {
  scale = render_scale(scale);
  width = setup_render_width(width);
  SetupPreview p;
  switch (prepare_setup_preview(page, p)) {
    case PreviewPage::ok: break;
    case PreviewPage::unknown_state:
      std::fprintf(stderr, "render: unknown setup state '%s'\n", page.c_str());
      return 2;
    case PreviewPage::unknown_page:
      std::fprintf(stderr, "render: unknown page '%s'\n", page.c_str());
      return 2;
  }
  JsonValue model;
  if (!build_preview_model(p, model)) return 1;

  GdiplusSession session;
  if (!session.ok()) return 1;
  int rc = 1;
  {
    PreviewPaint measured;
    {
      Bitmap scratch(width, 64, PixelFormat32bppARGB);
      Graphics g(&scratch);
      GdiplusCanvas c(g);
      PaintContext pc;
      measured = paint_setup_preview(c, pc, p, model, static_cast<float>(width), 64);
    }
    const int h = setup_preview_height(measured);
    DibSurface surface;
    if (create_dib_surface(surface, width * scale, h * scale)) {
      {
        Graphics g(surface.bitmap);
        if (scale != 1) g.ScaleTransform(static_cast<REAL>(scale), static_cast<REAL>(scale));
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        g.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
        g.Clear(Color(pal::background));
        GdiplusCanvas c(g);
        PaintContext pc;
        paint_setup_preview(c, pc, p, model, static_cast<float>(width), static_cast<float>(h));
        g.Flush(FlushIntentionSync);
      }
      rc = save_png(*surface.bitmap, out) ? 0 : 1;
    }
    release_dib_surface(surface);
  }  // every GDI+ object is gone before the session shuts GDI+ down
  return rc;
}

}  // namespace ks::tray
