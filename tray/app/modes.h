// Kestrune.exe's faces, chosen by the command line: a table of modes, tried in order. A row is
// taken when its option occurs anywhere in the raw command line; a program with no matching
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

// The first row whose option occurs in `command_line`; null when none does.
const ModeRow* find_mode(std::span<const ModeRow> rows, std::u16string_view command_line);

}  // namespace ks::tray
