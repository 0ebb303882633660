// The platform half of the tray log: the local time and one whole-line append.
#pragma once

#include <string>

namespace ks::tray {

struct LocalTime {
  int hour = 0, minute = 0, second = 0;
};

LocalTime local_time_now();

// Appends `line` and the platform's line end (CR LF on Windows, as a text-mode write gives) to
// the file at `path`, creating it; one write call. A file that cannot be opened loses the line.
void append_log_line(const std::string& path, const std::string& line);

}  // namespace ks::tray
