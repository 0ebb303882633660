// The tray program's own log, kestrune-tray.log in the temporary folder, and its version text.
#pragma once

#include <string>

#include "bridge/text.h"  // KS_PRINTF

namespace ks::tray {

// Appends "HH:MM:SS  <text>" and a line end (local time). Safe from any thread: each line is
// written whole under one lock. A log that cannot be opened loses the line silently.
void tray_log(const char* format, ...) KS_PRINTF(1, 2);

// The log file's path (UTF-8).
std::string tray_log_path();

// "3.2.0 <edition> · <build id>", built once (UTF-8).
const std::string& version_text();

}  // namespace ks::tray
