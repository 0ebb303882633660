// ks-test: timeout=300
// Setup pages rendered to PNG through GDI+ under Wine: exit codes, sizes and pixel probes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tray/ui/kit.h"
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

TEST(Render, SetupStatesAtScalesAndWidths) {
  const char* pages[] = {"setup", "setup-first", "setup-choose", "setup-nothing-addr",
                         "setup-cfm-remove-lv1", "setup-addr", "setup-trouble"};
  for (const char* page : pages) {
    for (int scale : {1, 2}) {
      for (int width : {540, 900}) {
        const std::wstring path = out_dir() + L"/" + std::wstring(page, page + strlen(page)) +
                                  L"-" + std::to_wstring(scale) + L"x" + std::to_wstring(width) +
                                  L".png";
        ASSERT_EQ(render_setup_preview(path, page, scale, width), 0) << page;
        const Png p = read_header(path);
        ASSERT_TRUE(p.ok) << page;
        EXPECT_EQ(p.w, static_cast<uint32_t>(width * scale)) << page;
        EXPECT_GT(p.h, static_cast<uint32_t>(300 * scale)) << page;
        EXPECT_EQ(p.h % scale, 0u) << page;
      }
    }
  }
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
