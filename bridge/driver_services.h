// What the framework offers the desk driver it is built with: the module log, the count of the
// driver's own threads that did not stop in time, and whether the module is stopping. The module
// entry installs the framework's own; a driver's tests install recorders. Until something is
// installed the driver's lines go nowhere.
#pragma once

namespace ks {

struct DriverServices {
  void (*log)(int level, const char* text);  // 1 info, 2 detail (shown only with diag)
  void (*thread_stuck)();                    // one of the driver's threads did not stop in time
  bool (*stopping)();                        // the module is stopping: long searches give way
};

// Installs the services (null: none). Each slot may be null. Safe to call while threads run;
// the record must outlive every call through it.
void set_driver_services(const DriverServices* services);

// One line into the installed log, formatted into 1024 bytes (longer text is cut).
void driver_log_info(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void driver_log_detail(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void driver_thread_stuck();
// False while nothing says otherwise.
bool driver_stopping();

}  // namespace ks
