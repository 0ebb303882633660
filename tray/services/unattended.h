// The unattended command-line modes: --install, --remove, --on=<type>, --off=<type>. Options are
// found anywhere in the raw command line, tested in that order.
#pragma once

#include <string>
#include <string_view>

#include "tray/services/installer.h"

namespace ks::tray {

// True when the command line asks for one of the modes.
bool is_unattended(std::string_view command_line);

// Locates the installation, runs the mode and logs "unattended <command line>: OK|FAILED
// <message>" (the message cut to 511 bytes). The exit code: 0 on success, 1 on failure.
int run_unattended(std::string_view command_line, InstallPaths& paths, Installer& installer);

}  // namespace ks::tray
