#include "tray/services/tests/support/fake_lv1_system.h"

namespace ks::tray::testing {

bool FakeLv1System::processes(std::vector<ProcessEntry>& out) {
  ++lists;
  if (list_fails) return false;
  out = procs;
  return true;
}

bool FakeLv1System::process_creation_time(uint32_t pid, uint64_t& filetime) {
  auto it = created.find(pid);
  if (it == created.end()) return false;
  filetime = it->second;
  return true;
}

std::string FakeLv1System::file_version(const std::string& path) {
  auto it = files.find(path);
  return it == files.end() ? std::string() : it->second.version;
}

bool FakeLv1System::file_stat(const std::string& path, uint64_t& write_time, uint64_t& size) {
  auto it = files.find(path);
  if (it == files.end()) return false;
  write_time = it->second.write_time;
  size = it->second.bytes.size();
  return true;
}

ReadStatus FakeLv1System::read_file(const std::string& path, size_t cap, std::string& out) {
  auto it = files.find(path);
  if (it == files.end()) return ReadStatus::missing;
  if (it->second.bytes.size() > cap) return ReadStatus::too_large;
  ++reads[path];
  out = it->second.bytes;
  return ReadStatus::ok;
}

}  // namespace ks::tray::testing
