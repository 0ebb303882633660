// The module's settings file and the 48 V protect list: the file is read whole at start, a few
// keys are re-read while running (the tray edits them), and it is rewritten whole when the watch
// request or the protect list changes. Every rewrite goes to a file beside the settings file that
// is then moved over it, under one lock, so a crash or a second writer never leaves a truncated
// file. The text itself is config_text.h.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/config_text.h"

namespace ks {

// config_load: reads the whole file at `framework_start`; a missing file keeps the defaults.
void config_load(const std::string& path);
// config_save: rewrites the whole file from the module's values (see config.cpp for which keys
// are taken from the file as it stands, so that a tray edit is never undone).
bool config_save();
// config_set_key: one key replaced in place (written beside and moved over the file).
bool config_set_key(const char* key, const char* value);
// config_reload_live: `diag` and `session_recall`, at most every 3000 ms, when the file changed.
void config_reload_live();
// config_reload_address: re-reads `ip` and `console`. The result says what changed, so that
// discovery can forget what it last saw at the old address.
struct AddressReload {
  bool ip_changed = false;
  bool console_changed = false;
};
AddressReload config_reload_address();

// Protect list (read on LV1's threads without waiting; changed on the watcher thread).
bool protect_list_contains(const char* bank, uint32_t input);
bool protect_list_get(int index, char* bank_out, int len, uint32_t* input);
bool protect_list_set(const char* bank, uint32_t input, bool add);
int protect_list_count();

// Copies of the string settings, taken under the settings lock.
void config_ip(char out[64]);
void config_hint(char out[64]);
void config_console(char out[40]);
std::string config_path();

// Forgets the kept path and restores every default (tests, and a fresh start).
void config_reset();

}  // namespace ks
