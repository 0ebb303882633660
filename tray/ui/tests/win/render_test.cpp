// ks-test: timeout=300
// Setup pages rendered to PNG through GDI+ under Wine: exit codes, sizes and pixel probes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
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
#include "tray/ui/model/page_model.h"
#include "tray/ui/model/preview_demo.h"
#include "tray/ui/model/ui_state.h"
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

// Pixels at geometry that carries no text: the page background in the left margin and the
// header card's fill left of its icon.
void probe(const std::wstring& path, int scale, int width, const char* page) {
  Gdiplus::Bitmap bmp(path.c_str());
  ASSERT_EQ(bmp.GetLastStatus(), Gdiplus::Ok) << page;
  Gdiplus::Color c;
  bmp.GetPixel(4 * scale, 40 * scale, &c);
  EXPECT_EQ(c.GetValue(), pal::background) << page;
  const float cw = std::min(width - 48.0f, 852.0f), L = (width - cw) / 2;
  bmp.GetPixel(static_cast<int>((L + 6) * scale), 40 * scale, &c);
  EXPECT_EQ(c.GetValue(), 0xFF151A20u) << page;
}

TEST(Render, EverySetupStateAtScalesAndWidths) {
  Gdiplus::GdiplusStartupInput in;
  ULONG_PTR token = 0;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &in, nullptr), Gdiplus::Ok);
  std::vector<std::string> pages = {"setup"};
  for (const char* s : kSetupStates) pages.push_back(s);
  for (const auto& page : pages) {
    for (int scale : {1, 2}) {
      for (int width : {540, 900}) {
        const std::wstring path = out_dir() + L"/" + std::wstring(page.begin(), page.end()) +
                                  L"-" + std::to_wstring(scale) + L"x" + std::to_wstring(width) +
                                  L".png";
        ASSERT_EQ(render_setup_preview(path, page, scale, width), 0) << page;
        const Png p = read_header(path);
        ASSERT_TRUE(p.ok) << page;
        EXPECT_EQ(p.w, static_cast<uint32_t>(width * scale)) << page;
        EXPECT_GT(p.h, static_cast<uint32_t>(300 * scale)) << page;
        EXPECT_EQ(p.h % scale, 0u) << page;
        // A modal veils the page; the probes are for the page itself.
        PreviewDemo demo;
        DashboardUiState ui;
        PageModelInputs inputs;
        if (page == "setup" || (apply_render_state(page, demo, ui, inputs) && ui.modal == 0))
          probe(path, scale, width, page.c_str());
      }
    }
  }
  Gdiplus::GdiplusShutdown(token);
}

TEST(Render, BadInputs) {
  const std::wstring dir = out_dir();
  EXPECT_EQ(render_setup_preview(dir + L"/x.png", "setup-", 1, 628), 2);
  EXPECT_EQ(render_setup_preview(dir + L"/x.png", "setup-nosuch", 1, 628), 2);
  EXPECT_EQ(render_setup_preview(dir + L"/x.png", "nosuch", 1, 628), 2);
  EXPECT_EQ(render_setup_preview(L"Z:/no/such/folder/x.png", "setup", 1, 628), 1);
  // Scale clamped to 1..4, width raised to the minimum.
  ASSERT_EQ(render_setup_preview(dir + L"/clamp0.png", "setup", 0, 100), 0);
  EXPECT_EQ(read_header(dir + L"/clamp0.png").w, 540u);
  ASSERT_EQ(render_setup_preview(dir + L"/clamp9.png", "setup", 9, 540), 0);
  EXPECT_EQ(read_header(dir + L"/clamp9.png").w, 540u * 4);
}

}  // namespace
}  // namespace ks::tray
