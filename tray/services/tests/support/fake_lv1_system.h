// An LV1 installation in memory: processes with creation times, files with contents, times and
// version resources, and a count of whole-file reads.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tray/services/lv1_build.h"

namespace ks::tray::testing {

class FakeLv1System : public Lv1System {
public:
  struct File {
    std::string bytes;
    uint64_t write_time = 1;
    std::string version;
  };

  bool list_fails = false;
  std::vector<ProcessEntry> procs;
  std::map<uint32_t, uint64_t> created;  // pid -> FILETIME; absent: cannot be opened
  uint64_t now = 0;
  std::map<std::string, File> files;
  std::map<std::string, int> reads;
  int lists = 0;                           // lists taken
  std::map<uint32_t, ProcessWatch> watch;  // pid -> what a watch tells; absent: unknown

  bool processes(std::vector<ProcessEntry>& out) override;
  bool process_creation_time(uint32_t pid, uint64_t& filetime) override;
  uint64_t now_filetime() override { return now; }
  std::string file_version(const std::string& path) override;
  bool file_exists(const std::string& path) override { return files.count(path) != 0; }
  bool file_stat(const std::string& path, uint64_t& write_time, uint64_t& size) override;
  ReadStatus read_file(const std::string& path, size_t cap, std::string& out) override;
  ProcessWatch watch_process(const ProcessEntry& p) override {
    auto it = watch.find(p.pid);
    return it == watch.end() ? ProcessWatch::unknown : it->second;
  }
};

}  // namespace ks::tray::testing
