// What the WING driver asks of the framework around it: the module log and the count of own
// threads that did not stop in time. The console module installs the framework's functions at
// start; until then (and in tests that install their own) lines go to the installed sink only.
#pragma once

#include <cstdint>

namespace ks {

struct DriverServices {
  void (*log)(int level, const char* text);  // 1 info, 2 detail (shown only with diag)
  void (*thread_stuck)();                    // one of the driver's threads did not stop
};

// Installs the framework's services (null: none). Safe to call while threads run.
void set_driver_services(const DriverServices* services);

void driver_log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void driver_log_detail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void driver_thread_stuck();

}  // namespace ks
