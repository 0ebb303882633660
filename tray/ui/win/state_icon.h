// The tray's state icon drawn in code, at any pixel size, in its four states.
#pragma once
#include <windows.h>

#include <cstdint>

namespace Gdiplus {
class Graphics;
}

namespace ks::tray {

// Draws the icon for state 0 idle, 1 linked, 2 attention, 3 unreachable into a px x px area at
// the graphics' origin; colour 0 picks the state's colour for the taskbar theme.
void paint_state_icon(Gdiplus::Graphics& g, int32_t px, int32_t state, bool light_taskbar, uint32_t colour = 0);

// A 32-bit icon of the state at px pixels; the stock application icon (shared, never to be
// destroyed) when it cannot be made. `made` says which one came back.
HICON make_icon(int32_t state, int32_t px, bool light_taskbar, bool* made);

// The DWORD "SystemUsesLightTheme" of the current user is not 0.
bool system_uses_light_theme();

// SM_CXSMICON for the system DPI when user32 can say so, else the plain metric.
int32_t small_icon_size();

}  // namespace ks::tray
