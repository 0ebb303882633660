// The console modules in a modules folder: which verified ones are there, newest first, which
// one the loader runs, and pruning the old ones while keeping the two newest and the running one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tray/services/fs_ops.h"

namespace ks::tray {

struct ModuleFile {
  std::string name;     // "<type>-<version>.dll"
  std::string version;  // the text between the type's hyphen and ".dll"
};

// The <type>-a.b.c.dll files of `folder` whose .sig verifies (`verify` gets the file's path),
// newest version first.
std::vector<ModuleFile> list_module_files(FileSystem& fs, const std::string& folder,
                                          const std::string& type,
                                          const std::function<bool(const std::string&)>& verify);

// With three or more module files of the type, deletes each from the third on, with its .sig,
// unless it is the version the loader runs (`running`, empty when none); logs
// "update: removed old module <name>" for each.
void prune_old_modules(FileSystem& fs, const std::string& folder, const std::string& type,
                       const std::string& running,
                       const std::function<bool(const std::string&)>& verify,
                       const std::function<void(const std::string&)>& log);

// The running module version that the loader block `block_name` reports for `type`; empty when
// the block is absent, its magic is wrong or no record has that type.
std::string loaded_module_version(const std::string& block_name, const std::string& type);

}  // namespace ks::tray
