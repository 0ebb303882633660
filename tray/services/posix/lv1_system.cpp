// Natively there is no LV1: the process list cannot be taken (so lv1_running stays on the safe
// side) and no file carries a Windows version resource.
#include <ctime>

#include "tray/services/lv1_build.h"

namespace ks::tray {

namespace {

class NativeLv1System : public Lv1System {
public:
  bool processes(std::vector<ProcessEntry>&) override { return false; }
  bool process_creation_time(uint32_t, uint64_t&) override { return false; }
  uint64_t now_filetime() override {
    // Seconds between 1601-01-01 and 1970-01-01, in 100 ns units.
    return uint64_t(std::time(nullptr)) * 10000000ull + 116444736000000000ull;
  }
  std::string file_version(const std::string&) override { return {}; }
};

}  // namespace

Lv1System& system_lv1() {
  static NativeLv1System sys;
  return sys;
}

}  // namespace ks::tray
