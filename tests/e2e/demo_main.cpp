// The demo: one run of the product end to end against a simulated desk, printed as a short
// account of what each side saw. Exit code 0 when everything that should happen happened.
//   kestrune-demo.exe [--x32] [--resync-desk] [--verbose]
// The WING run is the default; --x32 runs the X32/M32 one.
#include <cstdio>
#include <cstring>

#include "tests/e2e/desk_run.h"

int main(int argc, char** argv) {
  ks::e2e::DeskRunOptions o;
  bool x32 = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--x32") == 0)
      x32 = true;
    else if (std::strcmp(argv[i], "--resync-desk") == 0)
      o.resync_desk = true;
    else if (std::strcmp(argv[i], "--verbose") == 0)
      o.verbose = true;
    else {
      std::fprintf(stderr, "kestrune-demo: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::printf("demo: the %s run\n\n", x32 ? "X32/M32 (Brannock)" : "WING (Fellbrook)");
  ks::e2e::DeskRunResult r = x32 ? ks::e2e::run_x32(o) : ks::e2e::run_wing(o);
  for (const std::string& l : r.transcript) std::printf("%s\n", l.c_str());
  if (r.all_seen()) {
    std::printf("\ndemo: every step seen end to end\n");
    return 0;
  }
  std::printf("\ndemo: FAILED - not seen:");
  for (const std::string& step : r.missing()) std::printf(" %s", step.c_str());
  std::printf("\n");
  return 1;
}
