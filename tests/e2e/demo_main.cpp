// The demo: one run of the product end to end against a simulated desk, printed as a short
// account of what each side saw. Exit code 0 when everything that should happen happened.
//   kestrune-demo.exe [--x32] [--resync-desk] [--verbose]
// The WING run is to become the default; until the runner has it, the X32/M32 run stands in
// for it, and says so.
#include <cstdio>
#include <cstring>

#include "tests/e2e/desk_run.h"

int main(int argc, char** argv) {
  ks::e2e::DeskRunOptions o;
  bool x32 = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--x32") == 0) x32 = true;
    else if (std::strcmp(argv[i], "--resync-desk") == 0) o.resync_desk = true;
    else if (std::strcmp(argv[i], "--verbose") == 0) o.verbose = true;
    else {
      std::fprintf(stderr, "kestrune-demo: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (!x32) std::printf("demo: the WING run is not part of the demo yet - showing the X32/M32 run\n\n");
  ks::e2e::DeskRunResult r = ks::e2e::run_x32(o);
  for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
  const bool ok = r.all_seen();
  std::printf("\n%s\n", ok ? "demo: every step seen end to end" : "demo: FAILED - a step above is missing");
  return ok ? 0 : 1;
}
