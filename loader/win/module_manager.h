// The console module manager's entry points beyond the spine's seam (loader/win/module_seam.h):
// what the gain objects and the loader block call, and what the module watcher pass is made of.
#pragma once

#include <cstdint>

namespace ks {

// LV1 cleared the callback of its last live card of the type: the module is stopped on LV1's
// thread and stays loaded. A watcher pass that swaps or switches off the module meanwhile waits
// for this stop to finish, and leaves the module mapped when the stop reported false.
void stop_console_module_for_lv1(int type);

// One watcher pass (counter log, state.cfg, load/swap/switch-off, publish, identify); returns
// how long the watcher may wait for the next signal (kInfinite when nothing is due).
uint32_t modules_watcher_pass();

// ---- loader block (loader/win/loader_block.cpp) ----

// Writes the type's LoaderTypeRecord, the extra-live-card count and the hands-off word.
void publish_type_status(int type);
// A module file failed to load: its name, the error and one more failure in the type's record.
void note_load_failure(int type, const char* file_name_ansi, uint32_t error);
// Serves identify requests and LED deadlines for both types; returns the wait they allow.
uint32_t serve_identify_requests(uint32_t forever);

}  // namespace ks
