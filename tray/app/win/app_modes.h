// The rows of Kestrune.exe's mode table and the modes they run (Windows only).
#pragma once

#include <span>

#include "tray/app/modes.h"

namespace ks::tray {

// In the order they are tried.
std::span<const ModeRow> app_modes();

// "--verify-module <path>": loads the library in this process and reports whether it loaded.
// 87 without a path, 0 when it loaded (it stays loaded), else the load error (1 when that is 0).
int run_verify_module(const ModeArgs& args);

// "--install", "--remove", "--on=", "--off=": runs the one the command line asks for (tested in
// that order) and exits 0 on success, 1 on failure.
int run_unattended_mode(const ModeArgs& args);

// "--render [out] [page] [scale] [width]": the page into a PNG; 0 written, 1 not, 2 an unknown
// page or setup state.
int run_render(const ModeArgs& args);

// The resident tray program: one instance, the icon, the menu and the dashboard. Its exit code.
int run_tray_program(const ModeArgs& args);

}  // namespace ks::tray
