// ks-test: timeout=600
// Setup pages rendered to PNG through GDI+ under Wine: every page and state at two scales and
// two widths, the measured heights, pixel probes on geometry that carries no text, bad inputs,
// the off-screen surface, and a few reviewed reference images compared with a tolerance.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>
#include <objidl.h>
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "tray/ui/kit.h"
#include "tray/ui/setup_preview.h"
#include "tray/ui/win/dib_surface.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {
namespace {

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring out_dir() {
  const char* d = std::getenv("KS_RENDER_DIR");
  if (d && *d) return widen(d);
  const char* t = std::getenv("TEMP");
  return widen(t && *t ? t : ".");
}

std::wstring win_path(std::string p) {
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
  return widen(p);
}

struct Png {
  bool ok = false;
  uint32_t w = 0, h = 0;
};

Png read_header(const std::wstring& path) {
  std::ifstream f(path.c_str(), std::ios::binary);
  unsigned char b[24] = {};
  Png p;
  if (!f.read(reinterpret_cast<char*>(b), 24)) return p;
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  p.ok = std::equal(sig, sig + 8, b) && std::string(reinterpret_cast<char*>(b + 12), 4) == "IHDR";
  p.w = (uint32_t{b[16]} << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
  p.h = (uint32_t{b[20]} << 24) | (b[21] << 16) | (b[22] << 8) | b[23];
  return p;
}

class Render : public testing::Test {
protected:
  static void SetUpTestSuite() { session_ = new GdiplusSession; }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }
  static GdiplusSession* session_;
};
GdiplusSession* Render::session_ = nullptr;

// The height the page measures at this width through GDI+, as the render measures it.
int measured_height(const std::string& page, int width) {
  SetupPreview p;
  EXPECT_EQ(prepare_setup_preview(page, p), PreviewPage::ok) << page;
  JsonValue model;
  EXPECT_TRUE(build_preview_model(p, model));
  Gdiplus::Bitmap scratch(width, 64, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&scratch);
  GdiplusCanvas c(g);
  PaintContext pc;
  return setup_preview_height(paint_setup_preview(c, pc, p, model, static_cast<float>(width), 64));
}

std::vector<std::string> every_setup_page() {
  std::vector<std::string> pages = {"setup", "setupopen", "setupinstalled", "setupbusy"};
  for (const char* s : kSetupStates) pages.push_back(s);
  return pages;
}

TEST_F(Render, EverySetupPageAndStateAtScalesAndWidths) {
  for (const auto& page : every_setup_page()) {
    for (int width : {kSetupMinWidth, 900}) {
      const int h = measured_height(page, width);
      EXPECT_GT(h, 300) << page;
      for (int scale : {1, 2}) {
        const std::wstring path = out_dir() + L"\\" + widen(page) + L"-" + std::to_wstring(scale) +
                                  L"x" + std::to_wstring(width) + L".png";
        ASSERT_EQ(render_setup_preview(path, page, scale, width), 0) << page;
        const Png p = read_header(path);
        ASSERT_TRUE(p.ok) << page;
        EXPECT_EQ(p.w, static_cast<uint32_t>(width * scale)) << page;
        EXPECT_EQ(p.h, static_cast<uint32_t>(h * scale)) << page << " at " << width;
        DeleteFileW(path.c_str());
      }
    }
  }
}

// Reads one pixel of a rendered page, in design units.
class Probe {
public:
  Probe(const std::string& page, int scale, int width) : scale_(scale), width_(width) {
    path_ = out_dir() + L"\\probe-" + widen(page) + L"-" + std::to_wstring(scale) + L".png";
    rc_ = render_setup_preview(path_, page, scale, width);
    if (rc_ == 0) bmp_ = new Gdiplus::Bitmap(path_.c_str());
  }
  ~Probe() {
    delete bmp_;
    DeleteFileW(path_.c_str());
  }
  bool ok() const { return rc_ == 0 && bmp_ && bmp_->GetLastStatus() == Gdiplus::Ok; }
  Argb at(float x, float y) const {
    Gdiplus::Color c;
    bmp_->GetPixel(static_cast<INT>(x * scale_), static_cast<INT>(y * scale_), &c);
    return c.GetValue();
  }
  // Whether the colour appears anywhere in the column at design x.
  bool column_has(float x, Argb colour) const {
    const INT px = static_cast<INT>(x * scale_);
    for (UINT y = 0; y < bmp_->GetHeight(); ++y) {
      Gdiplus::Color c;
      bmp_->GetPixel(px, static_cast<INT>(y), &c);
      if (c.GetValue() == colour) return true;
    }
    return false;
  }
  float L() const { return (width_ - std::min(width_ - 48.0f, 852.0f)) / 2; }
  float cw() const { return std::min(width_ - 48.0f, 852.0f); }

private:
  int scale_, width_, rc_ = 1;
  std::wstring path_;
  Gdiplus::Bitmap* bmp_ = nullptr;
};

TEST_F(Render, PixelProbesOnGeometryWithoutText) {
  for (int scale : {1, 2}) {
    for (int width : {kSetupMinWidth, 1000}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << ", width " << width);
      {
        Probe p("setup-blocked", scale, width);
        ASSERT_TRUE(p.ok());
        const float L = p.L();
        EXPECT_EQ(p.at(4, 40), pal::background);  // left of the page
        EXPECT_EQ(p.at(L + 6, 40), 0xFF151A20u);  // the header card's fill
        EXPECT_EQ(p.at(L + 4, 16 + 25), 0xFF151A20u);
        // The header's state icon: its dot at the icon's middle, its ring open at the bottom.
        EXPECT_EQ(p.at(L + 14 + 12, 16 + 13 + 12), pal::ok);
        EXPECT_EQ(p.at(L + 14 + 12, 16 + 13 + 22), 0xFF151A20u);
        EXPECT_EQ(p.at(L + 14 + 1.5f, 16 + 13 + 12), 0xFF151A20u);  // outside the ring
        // Both cards carry the red edge bar of a blocked module; the switches are on.
        EXPECT_TRUE(p.column_has(L + 19.5f, pal::bad));
        EXPECT_FALSE(p.column_has(L + 19.5f, pal::ok));
        const float X = L + p.cw() - 60;
        EXPECT_TRUE(p.column_has(X + 32, 0xFFFFFFFF));  // the knob at the right
        EXPECT_TRUE(p.column_has(X + 22, 0xFF369E66));  // the green pill
      }
      {
        Probe p("setup-off", scale, width);  // the WING switched off, the X32/M32 on
        ASSERT_TRUE(p.ok());
        const float X = p.L() + p.cw() - 60;
        EXPECT_TRUE(p.column_has(X + 12, pal::muted));  // a knob at the left
        EXPECT_TRUE(p.column_has(X + 32, 0xFFFFFFFF));  // and one at the right
      }
      {
        Probe p("setup-cfm-remove", scale, width);  // a dialog veils the page
        ASSERT_TRUE(p.ok());
        EXPECT_NE(p.at(4, 40), pal::background);
        EXPECT_EQ(p.at(width / 2.0f, 2), p.at(4, 2));  // the veil covers the whole client
      }
    }
  }
}

TEST_F(Render, BadInputsGiveTheirExitCodes) {
  const std::wstring dir = out_dir();
  struct Case {
    const char* page;
    std::wstring out;
    int scale, width, rc;
    uint32_t png_width;  // 0: no PNG expected
  } cases[] = {
      {"setup-", dir + L"\\bad1.png", 1, 628, 2, 0},
      {"setup-nosuch", dir + L"\\bad2.png", 1, 628, 2, 0},
      {"nosuch", dir + L"\\bad3.png", 1, 628, 2, 0},
      {"setup", L"Z:\\no\\such\\folder\\x.png", 1, 628, 1, 0},
      {"setup", dir, 1, 628, 1, 0},  // a folder is not a file
      {"setup", dir + L"\\clamp0.png", 0, 100, 0, 540},
      {"setup", dir + L"\\clampneg.png", -3, 0, 0, 628},
      {"setup", dir + L"\\clamp9.png", 9, 540, 0, 540 * 4},
      // A surface far too large for memory is a failure, never a crash.
      {"setup", dir + L"\\huge.png", 4, 100000, 1, 0},
  };
  for (const Case& c : cases) {
    DeleteFileW(c.out.c_str());
    EXPECT_EQ(render_setup_preview(c.out, c.page, c.scale, c.width), c.rc) << c.page;
    const Png p = read_header(c.out);
    EXPECT_EQ(p.ok, c.png_width != 0) << c.page;
    if (c.png_width) {
      EXPECT_EQ(p.w, c.png_width) << c.page;
    }
    DeleteFileW(c.out.c_str());
  }
}

Gdiplus::Bitmap* no_wrapper(int32_t, int32_t, void*) { return nullptr; }
Gdiplus::Bitmap* failed_wrapper(int32_t, int32_t, void*) {
  return new Gdiplus::Bitmap(-1, -1, PixelFormat32bppPARGB);  // GDI+ reports it invalid
}

TEST_F(Render, DibSurfaceKeepsReleasesAndFailsWithoutItsBitmap) {
  DibSurface s;
  ASSERT_TRUE(create_dib_surface(s, 64, 32));
  ASSERT_NE(s.bitmap, nullptr);
  ASSERT_NE(s.bits, nullptr);
  EXPECT_EQ(s.bitmap->GetWidth(), 64u);
  EXPECT_EQ(s.bitmap->GetHeight(), 32u);
  Gdiplus::Bitmap* first = s.bitmap;
  EXPECT_TRUE(create_dib_surface(s, 64, 32));
  EXPECT_EQ(s.bitmap, first);  // the same size keeps the surface

  // Drawing through GDI+ lands in the DIB's bits, top row first.
  {
    Gdiplus::Graphics g(s.bitmap);
    Gdiplus::SolidBrush red(Gdiplus::Color(0xFFFF0000));
    g.FillRectangle(&red, 0, 0, 64, 1);
  }
  EXPECT_EQ(static_cast<const uint32_t*>(s.bits)[0], 0xFFFF0000u);
  EXPECT_EQ(static_cast<const uint32_t*>(s.bits)[64], 0u);

  ASSERT_TRUE(create_dib_surface(s, 100, 20));
  EXPECT_EQ(s.width, 100);
  EXPECT_EQ(s.bitmap->GetWidth(), 100u);

  for (auto [w, h] : {std::pair{0, 20}, std::pair{20, 0}, std::pair{-5, -5}}) {
    ASSERT_TRUE(create_dib_surface(s, 100, 20));
    EXPECT_FALSE(create_dib_surface(s, w, h));
    EXPECT_EQ(s.bitmap, nullptr);
    EXPECT_EQ(s.dc, nullptr);
    EXPECT_EQ(s.dib, nullptr);
    EXPECT_EQ(s.width, 0);
  }

  // Without its GDI+ bitmap a surface is a failure, with nothing left behind to paint on.
  for (auto wrap : {no_wrapper, failed_wrapper}) {
    ASSERT_TRUE(create_dib_surface(s, 100, 20));
    EXPECT_FALSE(detail::create_dib_surface_with(s, 50, 50, wrap));
    EXPECT_EQ(s.bitmap, nullptr);
    EXPECT_EQ(s.dc, nullptr);
    EXPECT_EQ(s.dib, nullptr);
    EXPECT_EQ(s.bits, nullptr);
    EXPECT_EQ(s.width, 0);
    EXPECT_EQ(s.height, 0);
  }
  EXPECT_FALSE(create_dib_surface(s, 1 << 20, 1 << 20));  // the DIB section cannot be made
  release_dib_surface(s);
  release_dib_surface(s);  // twice is harmless
}

// A decoded image's pixels, ARGB.
std::vector<uint32_t> pixels(const std::wstring& path, UINT& w, UINT& h) {
  Gdiplus::Bitmap bmp(path.c_str());
  w = h = 0;
  std::vector<uint32_t> out;
  if (bmp.GetLastStatus() != Gdiplus::Ok) return out;
  w = bmp.GetWidth();
  h = bmp.GetHeight();
  Gdiplus::Rect r(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  Gdiplus::BitmapData d{};
  if (bmp.LockBits(&r, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &d) != Gdiplus::Ok)
    return out;
  out.resize(static_cast<size_t>(w) * h);
  for (UINT y = 0; y < h; ++y)
    std::memcpy(&out[static_cast<size_t>(y) * w],
                static_cast<const uint8_t*>(d.Scan0) + static_cast<ptrdiff_t>(y) * d.Stride, w * 4);
  bmp.UnlockBits(&d);
  return out;
}

// Reviewed images of a few pages at scale 1 and the minimum width. A render may differ from its
// reference in at most 0.5 % of its pixels by more than 16 in a channel: anti-aliasing may move,
// a card, a text or a colour may not. After a deliberate change, the gallery's image of the page
// replaces its reference once it has been looked at.
TEST_F(Render, MatchesReviewedReferences) {
  for (const char* page : {"setup-first", "setup-choose", "setup-cfm-remove", "setupopen"}) {
    const std::wstring ref = win_path(std::string(KS_REFERENCE_DIR) + "/" + page + ".png");
    const std::wstring got = out_dir() + L"\\ref-" + widen(page) + L".png";
    ASSERT_EQ(render_setup_preview(got, page, 1, kSetupMinWidth), 0) << page;
    UINT rw, rh, gw, gh;
    const auto want = pixels(ref, rw, rh);
    const auto have = pixels(got, gw, gh);
    ASSERT_FALSE(want.empty()) << page << ": no reference image";
    ASSERT_EQ(gw, rw) << page;
    ASSERT_EQ(gh, rh) << page;
    size_t off = 0;
    for (size_t i = 0; i < want.size(); ++i) {
      for (int sh = 0; sh < 32; sh += 8) {
        const int a = (want[i] >> sh) & 0xFF, b = (have[i] >> sh) & 0xFF;
        if (std::abs(a - b) > 16) {
          ++off;
          break;
        }
      }
    }
    EXPECT_LE(off, want.size() / 200) << page << ": " << off << " pixels differ";
    DeleteFileW(got.c_str());
  }
}

}  // namespace
}  // namespace ks::tray
