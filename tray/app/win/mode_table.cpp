// Kestrune.exe's modes, in the order the command line is tested. Add a mode by adding its row.
#include "tray/app/win/app_modes.h"

namespace ks::tray {

namespace {

constexpr ModeRow kModes[] = {
    {"--verify-module", run_verify_module},
};

}  // namespace

std::span<const ModeRow> app_modes() { return kModes; }

}  // namespace ks::tray
