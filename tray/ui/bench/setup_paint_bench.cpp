// Time to paint the setup page into a bitmap through GDI+ at scales 1 and 2 (median and p99).
// build/windows/tray/ui/setup_paint_bench.exe, run under Wine.
#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "tray/ui/model/page_loader.h"
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/setup_page.h"
#include "tray/ui/win/gdiplus_canvas.h"

using namespace ks::tray;

int main() {
  GdiplusSession session;
  if (!session.ok()) return 1;
  PreviewDemo demo;
  DashboardUiState ui;
  PageModelInputs inputs;
  apply_render_state("setup-trouble", demo, ui, inputs);
  DashboardState st;
  fill_demo_snapshot(demo, st);
  JsonValue model;
  if (!parse_page_model(build_page_model(st, inputs), model)) return 1;
  for (int scale : {1, 2}) {
    Gdiplus::Bitmap bmp(628 * scale, 700 * scale, PixelFormat32bppPARGB);
    std::vector<double> us;
    for (int i = 0; i < 200; ++i) {
      Gdiplus::Graphics g(&bmp);
      if (scale != 1) g.ScaleTransform(static_cast<float>(scale), static_cast<float>(scale));
      g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
      g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
      const auto t0 = std::chrono::steady_clock::now();
      g.Clear(Gdiplus::Color(0xFF0D1014));
      GdiplusCanvas c(g);
      PaintContext pc;
      paint_setup_page(c, pc, model, {}, 628);
      g.Flush(Gdiplus::FlushIntentionSync);
      us.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("setup page paint, scale %d: median %.0f us, p99 %.0f us (%zu frames)\n", scale,
                us[us.size() / 2], us[us.size() * 99 / 100], us.size());
  }
  // The parts of a frame: the header's state icon alone, and one line of text.
  for (int part = 0; part < 2; ++part) {
    Gdiplus::Bitmap bmp(628, 100, PixelFormat32bppPARGB);
    std::vector<double> us;
    for (int i = 0; i < 200; ++i) {
      Gdiplus::Graphics g(&bmp);
      const auto t0 = std::chrono::steady_clock::now();
      GdiplusCanvas c(g);
      if (part == 0)
        draw_state_icon(c, 10, 10, 24, pal::ok);
      else
        draw_text_box(c, u"WING Rack \u00B7 on \u00B7 waiting for LV1", {"Segoe UI", 12}, pal::text,
                      10, 10, 300, TextAlign::near_);
      g.Flush(Gdiplus::FlushIntentionSync);
      us.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("%s: median %.0f us\n", part == 0 ? "state icon" : "one text line",
                us[us.size() / 2]);
  }
  return 0;
}
