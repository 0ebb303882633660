#include "tray/services/module_files.h"

#include <algorithm>
#include <cstring>

#include "os/shared_memory.h"
#include "shared/loader_block.h"
#include "tray/services/json.h"
#include "tray/services/release_manifest.h"
#include "tray/services/status_link.h"

namespace ks::tray {

std::vector<ModuleFile> list_module_files(FileSystem& fs, const std::string& folder,
                                          const std::string& type,
                                          const std::function<bool(const std::string&)>& verify) {
  std::vector<ModuleFile> out;
  std::vector<FsEntry> entries;
  if (type.empty() || !fs.list(folder, entries)) return out;
  const std::string head = type + "-", tail = ".dll";
  for (const FsEntry& e : entries) {
    if (e.kind != PathKind::file || e.name.size() <= head.size() + tail.size()) continue;
    if (e.name.compare(0, head.size(), head) != 0 ||
        e.name.compare(e.name.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    std::string version = e.name.substr(head.size(), e.name.size() - head.size() - tail.size());
    if (parse_version(version).major < 0) continue;
    if (!verify || !verify(join(folder, e.name))) continue;
    out.push_back({e.name, version});
  }
  std::stable_sort(out.begin(), out.end(), [](const ModuleFile& a, const ModuleFile& b) {
    VersionTriple va = parse_version(a.version), vb = parse_version(b.version);
    if (version_newer(va, vb)) return true;
    if (version_newer(vb, va)) return false;
    return a.name > b.name;
  });
  return out;
}

void prune_old_modules(FileSystem& fs, const std::string& folder, const std::string& type,
                       const std::string& running,
                       const std::function<bool(const std::string&)>& verify,
                       const std::function<void(const std::string&)>& log) {
  std::vector<ModuleFile> files = list_module_files(fs, folder, type, verify);
  if (files.size() < 3) return;
  for (size_t i = 2; i < files.size(); ++i) {
    if (!running.empty() && files[i].version == running) continue;
    const std::string path = join(folder, files[i].name);
    if (!fs.remove_tree(path)) continue;
    fs.remove_tree(path + ".sig");
    if (log) log("update: removed old module " + files[i].name);
  }
}

std::string loaded_module_version(const std::string& block_name, const std::string& type) {
  SharedMemory m;
  // The whole block, or the records of an older, shorter one.
  if (!m.open(block_name, kLoaderBlockSize, SharedMemory::Access::read_only) &&
      !m.open(block_name, kLoaderBlockMinSize, SharedMemory::Access::read_only))
    return {};
  uint8_t copy[kLoaderBlockSize];
  if (!loader_block_of({static_cast<uint8_t*>(m.data()), m.size()}, copy)) return {};
  const auto* block = reinterpret_cast<const LoaderBlock*>(copy);
  for (const LoaderTypeRecord& r : block->types) {
    if (strnlen(r.type_name, sizeof r.type_name) == type.size() &&
        type.compare(0, type.size(), r.type_name, type.size()) == 0)
      return std::string(r.running_version, strnlen(r.running_version, sizeof r.running_version));
  }
  return {};
}

}  // namespace ks::tray
