// What the end-to-end tests of the tray side share: waiting for a condition, and the system's
// LV1 facts with the LV1 stand-in (lv1sim.exe) taken for LV1 itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tray/services/lv1_build.h"

namespace ks::e2e {

// True once `ready` holds, false when `limit_ms` passed first; asks every 20 ms.
inline bool eventually(const std::function<bool()>& ready, int limit_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The LV1 stand-in runs as lv1sim.exe; the tray looks for LV1 by its own name.
class StandInAsLv1 : public tray::Lv1System {
public:
  bool processes(std::vector<tray::ProcessEntry>& out) override {
    if (!tray::system_lv1().processes(out)) return false;
    for (tray::ProcessEntry& p : out)
      if (p.exe == "lv1sim.exe") p.exe = tray::kLv1ExeName;
    return true;
  }
  bool process_creation_time(uint32_t pid, uint64_t& t) override {
    return tray::system_lv1().process_creation_time(pid, t);
  }
  uint64_t now_filetime() override { return tray::system_lv1().now_filetime(); }
  std::string file_version(const std::string& path) override {
    return tray::system_lv1().file_version(path);
  }
};

}  // namespace ks::e2e
