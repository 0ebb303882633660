// Kestrune.exe's faces, chosen by the command line: a table of modes, tried in order. A row is
// taken when one argument is its option (or, for an option ending in "=", begins with it), so
// a file name that merely contains an option never picks a mode; a program with no matching
// row goes on as the tray program. A new mode is one more row in win/mode_table.cpp.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ks::tray {

// The command line as Windows gave it (UTF-16, unchanged, so that any file name survives).
struct ModeArgs {
  std::u16string command_line;       // the raw command line
  std::vector<std::u16string> args;  // split as CommandLineToArgvW splits it; [0] is the program
};

struct ModeRow {
  const char* option;                // ASCII, e.g. "--verify-module"
  int (*run)(const ModeArgs& args);  // the process's exit code
};

// The first row whose option matches an argument after the program's name; null when none does.
const ModeRow* find_mode(std::span<const ModeRow> rows, const ModeArgs& args);

}  // namespace ks::tray
