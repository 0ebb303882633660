// Synthetic Modules\MixerCoreSG.dll images: a PE file with a small data section and a code
// section that puts the two byte patterns of a build profile at its RVAs (or leaves them out),
// with the offsets a test needs to damage it byte by byte.
#pragma once

#include <cstdint>
#include <string>

namespace ks::sim {

struct MixerImagePlan {
  uint32_t prologue_rva = 0;  // both RVAs at 0x2000 or above
  uint32_t load_rva = 0;
  uint32_t displacement = 0;
  bool patterns = true;  // false: the code section holds only int3 bytes
};

struct MixerImage {
  std::string bytes;
  uint32_t pe_offset = 0;      // "PE\0\0"
  uint32_t section_table = 0;  // the first 40-byte section header
  uint32_t code_section = 0;   // the header of the section holding the patterns
  uint64_t prologue_offset = 0;
  uint64_t load_offset = 0;
};

MixerImage make_mixercore_image(const MixerImagePlan& plan);
// Writes the image to path (folders must exist); false when it cannot be written.
bool write_mixercore_image(const std::string& path, const MixerImagePlan& plan);

}  // namespace ks::sim
