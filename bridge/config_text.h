// The settings file's text (wing.cfg / x32.cfg): key=value lines with ";" comments, read into a
// ConsoleConfig, written from one, and edited one key in place. Pure text: no file, no state,
// so the tray program's tests and the fuzzers read and write it the same way the module does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ks {

constexpr int kProtectMax = 32;         // inputs on the 48 V protect list
constexpr size_t kConfigLineMax = 255;  // characters of a line the module reads
// ... except the protect line: "protect=" and 32 entries of the longest form (7-character bank,
// 5-digit input) each followed by ", " fit.
constexpr size_t kConfigProtectLineMax = 511;
constexpr size_t kConfigEditCap = 16384;   // bytes config_set_key will edit
constexpr size_t kConfigNewLineMax = 159;  // characters of the line config_set_key writes

struct ProtectedInput {
  char bank[8];
  uint32_t input;
};

// One reading of the file, or the values to write. Plain data: no thread shares an instance.
struct ConsoleConfig {
  char bank[8];
  int32_t base;
  int32_t watch;
  bool notify;
  char card[8];
  bool resync_lv1;  // false: the desk is the source of truth when it comes back
  bool diag;        // true: detail lines are written (log level 2)
  char ip[64];
  char hint[64];
  char console[40];
  bool session_recall;
  ProtectedInput protect[kProtectMax];
  int protect_count;
};

using ConfigLog = std::function<void(const char* line)>;

void config_defaults(ConsoleConfig& cfg);

// Applies the key=value lines of text on top of cfg. Unknown keys and lines without "=" are
// ignored; a line ends at a NUL byte; over-long lines are cut at kConfigLineMax characters
// (the protect line at kConfigProtectLineMax) and the rest of them dropped, and a protect entry
// the cut went through is dropped too; bad protect entries and entries beyond the cap are
// skipped, each with a log line. The live reloads read the file with this same function.
void config_parse(std::string_view text, ConsoleConfig& cfg, const ConfigLog& log);

// Adds one protect-list entry from its file form ("LCL:3"). Returns false when it was skipped;
// log receives the reason when it was not merely a duplicate.
bool protect_entry_parse(std::string_view entry, ConsoleConfig& cfg, const ConfigLog& log);

// The whole file as config_save writes it, lines ending in LF.
std::string config_format(const ConsoleConfig& cfg);

// The protect list as the load line shows it: "LCL 3, A 12".
std::string protect_list_text(const ProtectedInput* entries, int count);

enum class KeyEdit {
  unchanged,  // the file already is what the edit would make: nothing to write
  edited,     // text now holds the new file
  too_large,  // the file would reach kConfigEditCap bytes
  bad_key,    // empty key, a line longer than kConfigNewLineMax, or a line break in either
};
// Replaces the first key=... line of text (key case-insensitive) with key=value and drops later
// key lines; appends the line, after making sure the text ends in LF, when there was none.
KeyEdit config_edit_key(std::string& text, std::string_view key, std::string_view value);

// A bank the file can carry and give back unchanged: 1 to 7 characters, none of them a separator,
// the colon or a control character.
bool protect_bank_ok(std::string_view bank);

// Text from the file or the dashboard as a log line may show it: at most 40 characters, control
// characters as '?'.
std::string shown(std::string_view v);

}  // namespace ks
