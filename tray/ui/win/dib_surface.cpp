#include "tray/ui/win/dib_surface.h"

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

namespace ks::tray {

namespace {

Gdiplus::Bitmap* wrap_bits(int32_t w, int32_t h, void* bits) {
  // GDI+ objects come from GdipAlloc, which gives null instead of throwing.
  return new Gdiplus::Bitmap(w, h, w * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
}

}  // namespace

void release_dib_surface(DibSurface& s) {
  delete s.bitmap;
  s.bitmap = nullptr;
  if (s.dc) {
    if (s.previous) SelectObject(s.dc, s.previous);
    DeleteDC(s.dc);
  }
  if (s.dib) DeleteObject(s.dib);
  s.dc = nullptr;
  s.dib = nullptr;
  s.previous = nullptr;
  s.bits = nullptr;
  s.width = s.height = 0;
}

namespace detail {

bool create_dib_surface_with(DibSurface& s, int32_t width, int32_t height, WrapBits wrap) {
  if (s.bitmap && s.width == width && s.height == height) return true;
  release_dib_surface(s);
  if (width < 1 || height < 1) return false;

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib) return false;
  if (!bits) {
    DeleteObject(dib);
    return false;
  }
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (screen) ReleaseDC(nullptr, screen);
  if (!dc) {
    DeleteObject(dib);
    return false;
  }
  s.dc = dc;
  s.dib = dib;
  s.previous = SelectObject(dc, dib);
  s.bits = bits;
  // Without its GDI+ bitmap the surface cannot be painted: that is a failure, never a surface
  // that looks made and crashes or stays blank at the first frame.
  Gdiplus::Bitmap* bmp = wrap(width, height, bits);
  if (!bmp || bmp->GetLastStatus() != Gdiplus::Ok) {
    delete bmp;
    release_dib_surface(s);
    return false;
  }
  s.bitmap = bmp;
  s.width = width;
  s.height = height;
  return true;
}

}  // namespace detail

bool create_dib_surface(DibSurface& s, int32_t width, int32_t height) {
  return detail::create_dib_surface_with(s, width, height, wrap_bits);
}

}  // namespace ks::tray
