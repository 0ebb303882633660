// The installer's facts bound to this machine: the fixed folders of an LV1 machine, the program's
// own folder, version resources, the load test in a child copy of this program, the release
// signature, the clock and the loader's event.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tray/services/install_paths.h"

namespace ks::tray {

// `lv1_running` comes from the caller (the status link's process check).
InstallEnv machine_install_env(std::function<bool()> lv1_running);

// The version resource's first translation names ProductName "Kestrune" (any case).
bool is_own_module_file(const std::string& path);

// Runs "<this program>" --verify-module "<dll>" without a window and waits up to 20 s: 0 when the
// DLL loaded, the child's code, the start error, or 258 after a time-out.
uint32_t verify_module_in_child(const std::string& dll);
// The same with a given program in place of this one.
uint32_t run_load_test(const std::string& program, const std::string& dll);

// The child's side: loads the DLL; 0, the load error (1 when that is 0), or 87 without a path.
uint32_t verify_module_here(const std::string& dll, bool have_path);

bool program_runs_from_temp();

}  // namespace ks::tray
