// Placing a staged release beside the running program while LV1 is closed, and handing over to
// the new program. The file system, the signature check and the process start are parameters.
#pragma once

#include <functional>
#include <string>

#include "tray/services/fs_ops.h"
#include "tray/services/update_scheduler.h"

namespace ks::tray {

struct PlaceEnv {
  FileSystem* fs = nullptr;
  std::string staged_folder;                            // updates\staged
  std::string program_dir;                              // the running program's folder
  std::string exe_path;                                 // the running program
  std::function<bool(const std::string& path)> verify;  // the file and its .sig
  std::function<void(const std::string&)> log;
  std::function<unsigned long()> last_error;
};

struct PlaceOutcome {
  bool ok = false;            // the release may be taken as placed
  bool app_placed = false;    // a new program is now at exe_path
  bool drop_release = false;  // the staged release is unusable as it is: fetch it again
};

// A file and its .sig, each copied over its target.
bool copy_with_sig(FileSystem& fs, const std::string& from, const std::string& to);

// Modules, then the loader, then the program. A staged loader that is not placed holds the
// program back too: a new program beside an old loader would install that loader as its own.
PlaceOutcome stage_loader_and_app(const PlaceEnv& env);

struct RestartEnv {
  PlaceEnv place;
  bool auto_install = false;
  std::string install_pending_path;  // updates\install-pending
  // Starts "<exe>" --tray --updated=<this process>; false with the system error.
  std::function<bool(const std::string& exe, unsigned long& error)> start_program;
  std::function<void()> close_self;  // ends this copy (WM_CLOSE to the tray window)
};

// Places the staged release; true when it was placed (the tick then ends).
bool restart_into_new_app(UpdaterState& state, const RestartEnv& env);

}  // namespace ks::tray
