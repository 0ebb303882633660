// ks-test: timeout=300
// Every dashboard page of the preview rendered to PNG through GDI+ under Wine: written, as wide
// as asked, at least as tall as the dashboard's height rule, and with the page background where
// nothing is drawn.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include <windows.h>
#include <objidl.h>
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "tray/ui/kit.h"
#include "tray/ui/win/dashboard_render.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {
namespace {

std::wstring out_dir() {
  const char* d = std::getenv("KS_RENDER_DIR");
  std::string s = d && *d ? d : ".";
  return std::wstring(s.begin(), s.end());
}

struct Png {
  bool ok = false;
  uint32_t w = 0, h = 0;
};

Png read_header(const std::wstring& path) {
  std::ifstream f(std::string(path.begin(), path.end()), std::ios::binary);
  unsigned char b[24] = {};
  Png p;
  if (!f.read(reinterpret_cast<char*>(b), 24)) return p;
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  p.ok = std::equal(sig, sig + 8, b) && std::string(reinterpret_cast<char*>(b + 12), 4) == "IHDR";
  p.w = (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
  p.h = (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23];
  return p;
}

TEST(DashboardRender, EveryPageRenders) {
  for (const char* page :
       {"channels", "detail", "detailR", "detailmid", "detailbus", "detailshared", "detailprot",
        "detailalarm", "link", "linkdiff", "linkprot", "unlink", "ms", "remove", "reroute",
        "reroutepick", "empty"}) {
    SCOPED_TRACE(page);
    const std::wstring out =
        out_dir() + L"\\dash-" + std::wstring(page, page + strlen(page)) + L".png";
    ASSERT_EQ(render_dashboard_preview(out, page, 1, 976), 0);
    const Png p = read_header(out);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.w, 976u);
    EXPECT_GE(p.h, uint32_t(dashboard_height(-1, 976, 1)));
    GdiplusSession s;
    Gdiplus::Bitmap bmp(out.c_str());
    ASSERT_EQ(bmp.GetLastStatus(), Gdiplus::Ok);
    Gdiplus::Color c;
    bmp.GetPixel(4, 4, &c);
    // The page background, or the modal veil over it.
    EXPECT_TRUE(c.GetValue() == pal::background || std::string(page) == "remove" ||
                std::string(page).rfind("reroute", 0) == 0)
        << std::hex << c.GetValue();
  }
}

TEST(DashboardRender, ScaleAndWidthAreClampedAndUnknownPagesRefused) {
  const std::wstring out = out_dir() + L"\\dash-scaled.png";
  ASSERT_EQ(render_dashboard_preview(out, "channels", 9, 300), 0);  // scale 4, width 600
  const Png p = read_header(out);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.w, 600u * 4);
  EXPECT_EQ(render_dashboard_preview(out, "setup", 1, 976), 2);
  EXPECT_EQ(render_dashboard_preview(out, "nosuch", 1, 976), 2);
}

}  // namespace
}  // namespace ks::tray
