#include "sim/lv1proc/mixercore_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ks::sim {

namespace {

void put16(std::string& s, size_t at, uint16_t v) { std::memcpy(&s[at], &v, 2); }
void put32(std::string& s, size_t at, uint32_t v) { std::memcpy(&s[at], &v, 4); }

void section(std::string& s, size_t at, const char* name, uint32_t vsize, uint32_t va,
             uint32_t raw_size, uint32_t raw_ptr) {
  std::memcpy(&s[at], name, std::min<size_t>(8, std::strlen(name)));
  put32(s, at + 8, vsize);
  put32(s, at + 12, va);
  put32(s, at + 16, raw_size);
  put32(s, at + 20, raw_ptr);
}

}  // namespace

MixerImage make_mixercore_image(const MixerImagePlan& plan) {
  constexpr uint32_t kPe = 0x80, kOptional = 0xF0, kDataRaw = 0x400, kCodeRaw = 0x600;
  MixerImage m;
  m.pe_offset = kPe;
  m.section_table = kPe + 24 + kOptional;
  m.code_section = m.section_table + 40;
  const uint32_t lo = std::min(plan.prologue_rva, plan.load_rva),
                 hi = std::max(plan.prologue_rva, plan.load_rva);
  const uint32_t code_va = lo & ~0xFFFu;
  const uint32_t code_size = ((hi + 16 - code_va) + 0xFFF) & ~0xFFFu;

  std::string& s = m.bytes;
  s.assign(kCodeRaw + code_size, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  put32(s, 60, kPe);
  std::memcpy(&s[kPe], "PE\0\0", 4);
  put16(s, kPe + 4, 0x8664);  // x64
  put16(s, kPe + 6, 2);       // sections
  put16(s, kPe + 20, kOptional);
  put16(s, kPe + 24, 0x20B);  // PE32+
  section(s, m.section_table, ".rdata", 0x800, 0x1000, 0x200, kDataRaw);
  section(s, m.code_section, ".text", code_size, code_va, code_size, kCodeRaw);
  std::memset(&s[kCodeRaw], 0xCC, code_size);

  m.prologue_offset = plan.prologue_rva - code_va + kCodeRaw;
  m.load_offset = plan.load_rva - code_va + kCodeRaw;
  if (plan.patterns) {
    static const unsigned char prologue[4] = {0x48, 0x89, 0x5C, 0x24};
    unsigned char load[7] = {0x48, 0x8B, 0x8F};
    std::memcpy(load + 3, &plan.displacement, 4);
    std::memcpy(&s[m.prologue_offset], prologue, 4);
    std::memcpy(&s[m.load_offset], load, 7);
  }
  return m;
}

bool write_mixercore_image(const std::string& path, const MixerImagePlan& plan) {
  const MixerImage m = make_mixercore_image(plan);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(m.bytes.data(), 1, m.bytes.size(), f) == m.bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace ks::sim
