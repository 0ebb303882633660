// A window's client area as the screen shows it, for the window test and the demo.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ks::tray::testing {

// Saves the client area as a PNG (GDI+ must be started); the number of distinct colours in it (a
// blank or failed capture has one or none). pixels, when given, receives the 0xAARRGGBB words.
size_t capture_window(HWND hwnd, const std::wstring& png, std::vector<uint32_t>* pixels = nullptr);

}  // namespace ks::tray::testing
