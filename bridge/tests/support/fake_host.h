// A loader stand-in for the framework's tests: the ModuleHost record with callbacks that record
// what the module asked for (log lines, reports to LV1, strip rebuilds).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "shared/gain_object.h"
#include "shared/iobox.h"
#include "shared/module_table.h"

namespace ks {

struct FakeReport {
  int32_t channel;
  double db;
  uint32_t has_gain, on, has_48v, forced;
};

class FakeHost {
public:
  // config_path: the settings file (UTF-8; kept as UTF-16 for the record).
  explicit FakeHost(const std::string& config_path = "", const char* type = "wing");
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  const ModuleHost* host() const { return &host_; }
  ModuleHost& record() { return host_; }

  std::vector<std::string> lines();
  // Lines containing needle.
  std::vector<std::string> lines_with(const std::string& needle);
  bool logged(const std::string& needle) { return !lines_with(needle).empty(); }
  void clear();
  std::vector<FakeReport> reports();
  std::vector<int32_t> rebuilds();

  GainObject gain_object{};
  bool has_mac = false;
  uint8_t mac[6] = {0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc};
  bool live = true;
  // What lv1_listener answers (LV1's listener of the live box); null: none.
  IoBoxListener* listener = nullptr;

private:
  ModuleHost host_{};
  std::u16string path16_;
  std::u16string suffix16_;
  std::mutex mu_;
  std::vector<std::string> lines_;
  std::vector<FakeReport> reports_;
  std::vector<int32_t> rebuilds_;
  friend struct FakeHostThunks;
};

}  // namespace ks
