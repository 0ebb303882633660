// What the loader's three logs are called, when they rotate, how a line looks, and which access
// violations are worth a line. Pure rules; the Windows writer (loader/win/loader_log.cpp) applies
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ks {

enum LogChannel : int { kLogLoader = 0, kLogWing = 1, kLogX32 = 2, kLogChannels = 3 };

// A log reaching this many bytes is moved to its ".1" name before the next line.
constexpr uint64_t kLogRotateBytes = 0x200000;

// Formatted text of one line is cut at this size (terminator included).
constexpr size_t kLogTextBytes = 1024;

// "kestrune-loader.log", "kestrune.log", "kestrune-x32.log"; rotated: "kestrune-loader.1.log"...
// Empty for a channel outside 0..2.
std::string log_file_name(int channel, bool rotated);

// True when a log that holds `bytes` must rotate before the next line is written.
inline bool log_needs_rotation(uint64_t bytes) { return bytes >= kLogRotateBytes; }

// "hh:mm:ss.mmm  text\n" into out (cap bytes, always terminated, the newline kept even when the
// text is cut). Returns the length written.
size_t format_log_line(char* out, size_t cap, int hour, int minute, int second, int millisecond,
                       const char* text);

// The console module's log callback: "x32" writes to the X32/M32 log, anything else (also none)
// to the WING log.
int host_log_channel(const char* ctx);

// Access violations are counted from 1; the 1st to 5th, the 50th and every 500th get a line.
inline bool access_violation_logged(long n) {
  return (n >= 1 && n <= 5) || n == 50 || (n > 0 && n % 500 == 0);
}

// The "[chunk] label: N bytes: text" line for a session chunk: newlines shown as '|', carriage
// returns as blanks, cut after 700 characters with "...". A null text shows as "(null)", 0 bytes.
std::string chunk_text_line(const char* label, const char* text);

}  // namespace ks
