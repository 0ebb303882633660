// The off-screen surface the dashboard is painted into: a top-down 32-bit DIB section selected
// into a memory context, with a GDI+ bitmap over the same bits, so a frame is drawn with GDI+
// and copied to the window in one BitBlt. One lives for the program; release it before GDI+
// shuts down.
#pragma once
#include <windows.h>

#include <cstdint>

namespace Gdiplus {
class Bitmap;
}

namespace ks::tray {

struct DibSurface {
  HDC dc = nullptr;  // memory context, the DIB selected into it
  HBITMAP dib = nullptr;
  HGDIOBJ previous = nullptr;         // the context's bitmap before the DIB
  void* bits = nullptr;               // width x height premultiplied ARGB, rows top down
  Gdiplus::Bitmap* bitmap = nullptr;  // over `bits`, stride width x 4
  int32_t width = 0;
  int32_t height = 0;
};

// True when the surface is width x height with its GDI+ bitmap afterwards. The same size again
// keeps everything; a size below 1, or any part that cannot be made, leaves it released.
bool create_dib_surface(DibSurface& s, int32_t width, int32_t height);
void release_dib_surface(DibSurface& s);

namespace detail {
// The step that wraps the DIB's bits in a GDI+ bitmap; a test hands in one that fails.
using WrapBits = Gdiplus::Bitmap* (*)(int32_t width, int32_t height, void* bits);
bool create_dib_surface_with(DibSurface& s, int32_t width, int32_t height, WrapBits wrap);
}  // namespace detail

}  // namespace ks::tray
