// The release check, the one job of the updater's worker thread: ask the update server, accept a
// release only when its body carries the release key's signature, install newer console modules
// at once and stage a newer loader and program (with the modules that need that loader) for
// placing while LV1 is closed. Everything from outside is a parameter, so the whole check runs
// over a scripted server and temporary folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tray/services/download.h"
#include "tray/services/fs_ops.h"
#include "tray/services/update_scheduler.h"

namespace ks::tray {

struct CheckEnv {
  FileSystem* fs = nullptr;
  HttpGet get;
  const uint8_t* key = nullptr;  // the release key, 32 bytes
  std::string check_url;         // "https://<host>/v1/updates?product=kestrune"
  std::string own_version;       // this program's version
  std::string edition;           // this build's edition word
  std::string program_dir;       // the running program's folder
  std::string install_dir;       // the installed bundle's Contents\Win64; empty when not installed
  bool auto_install = false;
  std::string staged_folder;  // updates\staged
  std::function<bool(const std::string& path)>
      verify;  // the file and its .sig, with the release key
  std::function<std::string(const std::string& type)> loaded_module_version;
  std::function<void()> modules_changed;
  std::function<void(const std::string&)> log;
};

// One whole check. Sets `staged` once a complete release is staged; leaves `busy` to the thread.
void run_update_check(UpdaterState& state, const CheckEnv& env);

}  // namespace ks::tray
