// The loader's three logs in the user's temporary folder, and the access-violation logger.
#pragma once

#include <windows.h>

#include "loader/log_rules.h"

namespace ks {

// Library entry: creates log_lock and turns logging on. Detach turns it off (files stay open;
// the process is going away).
void log_attach();
void log_detach();

// One line to a channel (0 loader, 1 WING, 2 X32/M32). Nothing when logging is off, the channel is
// unknown or the file cannot be opened. Safe from any thread; never waits for the file unless
// the queue is full.
void write_log_line(int channel, const char* text);

// Lines are stamped at the call and written by the log thread; a full queue makes the caller
// write its line itself. Writes now everything handed over so far (tests reading a log, and
// anything that must see the file as it stands).
void log_flush();

// printf-style line, cut at 1024 bytes.
void loader_log(int channel, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// The "[chunk] ..." line of a session chunk text.
void log_chunk_text(int channel, const char* label, const char* text);

// Vectored handler, added last: logs access violations (sampled) with a short backtrace and
// always lets the search go on, so LV1's own handlers see the exception unchanged.
LONG CALLBACK on_access_violation(EXCEPTION_POINTERS* info);

// Writes what is queued and closes every log so the next line opens it again (tests change TEMP
// between cases).
void log_close_all();

}  // namespace ks
