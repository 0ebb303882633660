// The driver's log and stuck-thread report. In the console module they go into the framework
// (its module log and `stuck_threads`, set up by the module); tests route them into a recorder.
#pragma once

#include <cstdint>

namespace ks {

using X32LogSink = void (*)(int level, const char* text);  // level 1 info, 2 detail
using X32StuckSink = void (*)();

void x32_set_log_sink(X32LogSink sink);
void x32_set_stuck_sink(X32StuckSink sink);

void x32_info(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void x32_detail(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void x32_report_stuck_thread();

}  // namespace ks
