// Kestrune.exe's modes, in the order the command line is tested. Add a mode by adding its row.
#include "tray/app/win/app_modes.h"

namespace ks::tray {

namespace {

constexpr ModeRow kModes[] = {
    {"--verify-module", run_verify_module}, {"--install", run_unattended_mode},
    {"--remove", run_unattended_mode},      {"--on=", run_unattended_mode},
    {"--off=", run_unattended_mode},        {"--render", run_render},
};

}  // namespace

std::span<const ModeRow> app_modes() { return kModes; }

}  // namespace ks::tray
