// The tray's state icon as a Windows icon (painted by tray/ui/state_icon.h), and the taskbar facts
// that choose its size and colours.
#pragma once
#include <windows.h>

#include <cstdint>

namespace ks::tray {

// A 32-bit icon of the state at px pixels; the stock application icon (shared, never to be
// destroyed) when it cannot be made. `made` says which one came back.
HICON make_icon(int32_t state, int32_t px, bool light_taskbar, bool* made);

// The DWORD "SystemUsesLightTheme" of the current user is not 0.
bool system_uses_light_theme();

// SM_CXSMICON for the system DPI when user32 can say so, else the plain metric.
int32_t small_icon_size();

}  // namespace ks::tray
