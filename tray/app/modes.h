// Kestrune.exe's faces, chosen by the command line: a table of modes, tried in order. A row is
// taken when one whole argument is its option (an option ending in "=" also takes an argument
// that begins with it, "--on=wing"); a path that merely contains an option's letters never
// counts. A program with no matching row goes on as the tray program. A new mode is one more row
// in win/mode_table.cpp.
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
  std::u16string option;             // the argument that chose the mode (set by the dispatcher)
};

struct ModeRow {
  const char* option;                // ASCII, e.g. "--verify-module"
  int (*run)(const ModeArgs& args);  // the process's exit code
};

// The argument (after the program's own, index 0) that is `option`, or for an option ending in
// "=" begins with it; null when none is.
const std::u16string* find_option(std::span<const std::u16string> args, std::string_view option);

// The first row whose option is one of the arguments; null when none is. `which`, when given,
// receives that argument.
const ModeRow* find_mode(std::span<const ModeRow> rows, std::span<const std::u16string> args,
                         std::u16string* which = nullptr);

}  // namespace ks::tray
