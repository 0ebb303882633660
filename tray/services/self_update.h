// Replacing the running tray program with a staged one. The new program is first copied beside
// the running one and checked there, so that the renames that follow only ever put a verified
// file in place, and a failure leaves the running program where it was.
#pragma once
#include <functional>
#include <string>

namespace ks::tray {

struct PlaceOps {
  std::function<bool(const std::string& from, const std::string& to)> copy;  // overwriting
  std::function<bool(const std::string& from, const std::string& to)>
      move;                                             // fails when `to` exists
  std::function<bool(const std::string& path)> remove;  // true when gone, also when absent
  std::function<bool(const std::string& path)> verify;  // the file and its .sig
  std::function<void(const std::string&)> log;
  std::function<unsigned long()> last_error = [] { return 0ul; };
};

// The staged program must verify where it was staged and again beside the running one. True
// when `exe` is now the new program with its .sig.
bool place_new_app(const PlaceOps& ops, const std::string& staged_exe, const std::string& exe);

// The process id after "--updated=" in a command line; 0 when absent or not a number.
unsigned long updated_pid(const std::string& command_line);

}  // namespace ks::tray
