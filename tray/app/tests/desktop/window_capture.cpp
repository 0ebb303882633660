#include "tray/app/tests/desktop/window_capture.h"

#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>
#include <gdiplus.h>

#include <set>

#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray::testing {

size_t capture_window(HWND hwnd, const std::wstring& png, std::vector<uint32_t>* pixels) {
  RECT rc;
  if (!GetClientRect(hwnd, &rc)) return 0;
  const int w = rc.right, h = rc.bottom;
  if (w <= 0 || h <= 0) return 0;
  HDC wdc = GetDC(hwnd);
  HDC mem = CreateCompatibleDC(wdc);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  size_t distinct = 0;
  if (dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, wdc, 0, 0, SRCCOPY);
    const auto* px = static_cast<const uint32_t*>(bits);
    std::set<uint32_t> colours;
    for (int i = 0; i < w * h; ++i) colours.insert(px[i] & 0xFFFFFF);
    distinct = colours.size();
    if (pixels) pixels->assign(px, px + w * h);
    {
      Gdiplus::Bitmap image(w, h, w * 4, PixelFormat32bppRGB, static_cast<BYTE*>(bits));
      if (!save_png(image, png)) distinct = 0;
    }
    SelectObject(mem, old);
    DeleteObject(dib);
  }
  DeleteDC(mem);
  ReleaseDC(hwnd, wdc);
  return distinct;
}

}  // namespace ks::tray::testing
