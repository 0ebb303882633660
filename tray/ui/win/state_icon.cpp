#include "tray/ui/win/state_icon.h"

// GDI+ needs min and max from windows.h.
#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include <cmath>

#include "tray/services/tray_log.h"
#include "tray/ui/state_icon.h"
#include "tray/ui/win/gdiplus_canvas.h"

namespace ks::tray {

using namespace Gdiplus;

HICON make_icon(int32_t state, int32_t px, bool light_taskbar, bool* made) {
  HICON icon = nullptr;
  int rc = 0;
  {
    Bitmap bmp(px, px, PixelFormat32bppARGB);
    rc = bmp.GetLastStatus();
    if (rc == Ok) {
      {
        Graphics g(&bmp);
        GdiplusCanvas canvas(g);
        paint_state_icon(canvas, px, state, light_taskbar, nullptr);
      }
      rc = bmp.GetHICON(&icon);
    }
  }
  if (rc == Ok && icon) {
    if (made) *made = true;
    return icon;
  }
  tray_log("make_icon(state=%d,%dpx) FAILED rc=%d - falling back to the stock app icon", state, px,
           rc);
  if (made) *made = false;
  return static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, px, px, LR_SHARED));
}

bool system_uses_light_theme() {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(
          HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
          L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return false;
  return value != 0;
}

int32_t small_icon_size() {
  using ForDpi = int(WINAPI*)(int, UINT);
  using SystemDpi = UINT(WINAPI*)();
  if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
    auto for_dpi = reinterpret_cast<ForDpi>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
    auto system_dpi = reinterpret_cast<SystemDpi>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForSystem")));
    if (for_dpi && system_dpi) {
      const int v = for_dpi(SM_CXSMICON, system_dpi());
      if (v > 0) return v;
    }
  }
  return GetSystemMetrics(SM_CXSMICON);
}

}  // namespace ks::tray
