// Writes a synthetic MixerCoreSG.dll for manual runs:
//   mixercore-gen <file> <prologue RVA> <load RVA> <displacement> [--no-patterns]   (hex numbers)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/lv1proc/mixercore_image.h"

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6 || (argc == 6 && std::strcmp(argv[5], "--no-patterns") != 0)) {
    std::fprintf(
        stderr,
        "usage: mixercore-gen <file> <prologue RVA> <load RVA> <displacement> [--no-patterns]\n");
    return 2;
  }
  ks::sim::MixerImagePlan plan;
  plan.prologue_rva = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 16));
  plan.load_rva = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 16));
  plan.displacement = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 16));
  plan.patterns = argc == 5;
  if (plan.prologue_rva < 0x2000 || plan.load_rva < 0x2000 ||
      (plan.prologue_rva > plan.load_rva ? plan.prologue_rva - plan.load_rva
                                         : plan.load_rva - plan.prologue_rva) > 0x100000) {
    std::fprintf(
        stderr,
        "mixercore-gen: the RVAs must be at 0x2000 or above and within 1 MiB of each other\n");
    return 2;
  }
  if (!ks::sim::write_mixercore_image(argv[1], plan)) {
    std::fprintf(stderr, "mixercore-gen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
