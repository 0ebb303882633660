#include "tray/ui/win/state_icon.h"

// GDI+ needs min and max from windows.h.
#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>  // PROPID, which a lean windows.h leaves out
#include <gdiplus.h>

#include <cmath>

#include "tray/services/tray_log.h"
#include "tray/ui/shell/window_metrics.h"

namespace ks::tray {

using namespace Gdiplus;

namespace {

// Erases a diagonal band from the top left to the bottom right.
void erase_band(Graphics& g, float px, float width) {
  const CompositingMode was = g.GetCompositingMode();
  g.SetCompositingMode(CompositingModeSourceCopy);
  Pen clear(Color(0, 0, 0, 0), width);
  g.DrawLine(&clear, 0.0f, 0.0f, px, px);
  g.SetCompositingMode(was);
}

}  // namespace

void paint_state_icon(Graphics& g, int32_t px, int32_t state, bool light_taskbar, uint32_t colour) {
  if (px < 1) return;
  const StateIconMetrics m = state_icon_metrics(px);
  const Color col(colour ? colour : state_icon_colour(state, light_taskbar));
  const float size = static_cast<float>(px), c = size / 2, r = m.ring_radius;
  const bool small = px < 32;

  g.SetCompositingMode(CompositingModeSourceCopy);
  SolidBrush none(Color(0, 0, 0, 0));
  g.FillRectangle(&none, 0.0f, 0.0f, size, size);
  g.SetCompositingMode(CompositingModeSourceOver);
  g.SetSmoothingMode(SmoothingModeAntiAlias);

  Pen ring(col, m.ring_stroke);
  ring.SetStartCap(LineCapFlat);
  ring.SetEndCap(LineCapFlat);
  g.DrawArc(&ring, c - r, c - r, 2 * r, 2 * r, 135.0f, 270.0f);

  if (state == 3 && small) erase_band(g, size, m.strike_gap);

  SolidBrush fill(col);
  g.FillEllipse(&fill, c - m.dot_radius, c - m.dot_radius, 2 * m.dot_radius, 2 * m.dot_radius);

  if (state >= 1 && state <= 3) {
    if (px == 16) {
      g.SetSmoothingMode(SmoothingModeNone);
      const int at[4][2] = {{8, 6}, {9, 5}, {10, 4}, {11, 3}};
      for (const auto& p : at) g.FillRectangle(&fill, p[0], p[1], 2, 2);
      g.SetSmoothingMode(SmoothingModeAntiAlias);
    } else {
      const float d = 0.70710678f;  // 315 degrees: up and to the right
      const float from = small ? 1.0f : 0.0f;
      Pen needle(col, m.needle_stroke);
      needle.SetStartCap(LineCapFlat);
      needle.SetEndCap(LineCapFlat);
      g.DrawLine(&needle, c + from * d, c - from * d, c + r * d, c - r * d);
    }
  }

  if (state == 2) {
    float side = m.needle_stroke;
    float x = c - side / 2, y = c + r - side / 2;
    if (small) {
      g.SetSmoothingMode(SmoothingModeNone);
      side = std::max(2.0f, std::round(side));
      x = std::clamp(std::round(c - side / 2), 0.0f, size - side);
      y = std::clamp(std::round(c + r - side / 2), 0.0f, size - side);
    }
    g.FillRectangle(&fill, x, y, side, side);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
  }

  if (state == 3) {
    if (small) {
      g.SetCompositingMode(CompositingModeSourceCopy);
      g.SetSmoothingMode(SmoothingModeNone);
      for (int32_t i = 0; i < px; ++i) g.FillRectangle(&none, i, i, 1, 1);
      g.SetCompositingMode(CompositingModeSourceOver);
      g.SetSmoothingMode(SmoothingModeAntiAlias);
    } else {
      erase_band(g, size, m.strike_gap);
    }
  }
}

HICON make_icon(int32_t state, int32_t px, bool light_taskbar, bool* made) {
  HICON icon = nullptr;
  int rc = 0;
  {
    Bitmap bmp(px, px, PixelFormat32bppARGB);
    rc = bmp.GetLastStatus();
    if (rc == Ok) {
      {
        Graphics g(&bmp);
        paint_state_icon(g, px, state, light_taskbar);
      }
      rc = bmp.GetHICON(&icon);
    }
  }
  if (rc == Ok && icon) {
    if (made) *made = true;
    return icon;
  }
  tray_log("make_icon(state=%d,%dpx) FAILED rc=%d - falling back to the stock app icon", state, px, rc);
  if (made) *made = false;
  return static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, px, px, LR_SHARED));
}

bool system_uses_light_theme() {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                   L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return false;
  return value != 0;
}

int32_t small_icon_size() {
  using ForDpi = int(WINAPI*)(int, UINT);
  using SystemDpi = UINT(WINAPI*)();
  if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
    auto for_dpi = reinterpret_cast<ForDpi>(reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
    auto system_dpi = reinterpret_cast<SystemDpi>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForSystem")));
    if (for_dpi && system_dpi) {
      const int v = for_dpi(SM_CXSMICON, system_dpi());
      if (v > 0) return v;
    }
  }
  return GetSystemMetrics(SM_CXSMICON);
}

}  // namespace ks::tray
