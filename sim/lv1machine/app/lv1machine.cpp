// lv1machine <io-modules folder> <disabled store> <waves dll> [--older <own dll> <settings file>]
//            [--older-bundles]
// Lays out an LV1 machine (see lv1_machine.h); inside a Wine prefix the first two are usually
// "C:\ProgramData\Waves Audio\SoundGrid IO Modules" and "C:\ProgramData\Kestrune\Disabled".
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/lv1machine/lv1_machine.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: lv1machine <io-modules> <disabled> <waves dll> [--older <own dll> <settings>] "
        "[--older-bundles]\n");
    return 2;
  }
  ks::sim::Lv1Machine m;
  m.io_modules = argv[1];
  m.disabled = argv[2];
  m.waves_dll = argv[3];
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--older") == 0 && i + 2 < argc) {
      m.older_in_place_loader = argv[++i];
      std::ifstream in(argv[++i], std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      m.older_settings = text.str();
    } else if (std::strcmp(argv[i], "--older-bundles") == 0) {
      m.older_bundles = true;
    } else {
      std::fprintf(stderr, "lv1machine: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::string why;
  if (!ks::sim::lay_out_lv1_machine(m, why)) {
    std::fprintf(stderr, "lv1machine: %s\n", why.c_str());
    return 1;
  }
  return 0;
}
