// state.cfg and the names in the modules folder, on any text: a name taken as a module file has
// a version that is shown whole and names the same file again, and the newest usable module is
// the highest version among the names that verify.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "loader/module_manager_rules.h"
#include "tests/support/fuzz_check.h"

using namespace ks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TypeSwitches sw[2];
  parse_state_cfg(text, sw);

  // Each line of the input is a file name in the modules folder.
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos <= text.size() && names.size() < 64) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    names.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  for (const char* type : {"wing", "x32"}) {
    std::vector<ModuleVersion> usable;
    for (const std::string& name : names) {
      ModuleVersion v;
      if (!parse_module_file_name(name, type, v)) continue;
      std::string shown = version_text(v);
      KS_FUZZ_CHECK(shown.size() <= kVersionTextMax);
      ModuleVersion again;
      KS_FUZZ_CHECK(parse_module_file_name(std::string(type) + "-" + shown + ".dll", type, again));
      KS_FUZZ_CHECK(again.major == v.major && again.minor == v.minor && again.patch == v.patch);
      KS_FUZZ_CHECK(!(version_newer(v, again) || version_newer(again, v)));
    }
    // A name verifies when its length is even: the newest among those wins.
    auto verify = [](const std::string& path) { return path.size() % 2 == 0; };
    RejectedFiles rejected;
    FoundModule found;
    bool have = find_newest_module(
        names, "C:\\m", type, rejected, verify, [](const std::string&) {}, found);
    for (const std::string& name : names) {
      ModuleVersion v;
      if (!parse_module_file_name(name, type, v) || !verify("C:\\m\\" + name)) continue;
      KS_FUZZ_CHECK(have);
      ModuleVersion best;
      std::string file = found.path.substr(5);
      KS_FUZZ_CHECK(parse_module_file_name(file, type, best) && !version_newer(v, best));
      KS_FUZZ_CHECK(found.version == version_text(best));
    }
  }
  return 0;
}
