#include "tray/ui/tests/support/bridge_fixture.h"

namespace ks::tray::test {

BridgeFixture::BridgeFixture()
    : block_(std::make_unique<StatusBlock>()),
      link_({reinterpret_cast<uint8_t*>(block_.get()), sizeof(StatusBlock)}) {
  StatusBlock& s = *block_;
  std::memset(&s, 0, sizeof s);
  s.magic = kStatusMagic;
  s.version = kStatusLayoutVersion;
  s.desk_answering = 1;
  s.lv1_loaded = 1;
  s.meters_live = 1;
  s.watch_count = 8;
  std::memcpy(s.watch_bank, "LCL", 4);
  s.range_min = -3, s.range_max = 45.5, s.range_step = 0.5;
  for (uint32_t c = 0; c < kChannels; ++c) s.level_db[c] = s.peak_db[c] = kNoLevelDb;
  for (int c = 0; c < 8; ++c) patch(c, "LCL", uint32_t(c + 1));
}

void BridgeFixture::patch(int ch, const char* group, uint32_t input, bool amp, double gain) {
  StatusBlock& s = *block_;
  std::memset(s.src_bank[ch], 0, kBankBytes);
  std::strncpy(s.src_bank[ch], group, kBankBytes - 1);
  s.src_input[ch] = input;
  s.has_head_amp[ch] = amp;
  s.gain_db[ch] = gain;
}

void BridgeFixture::range(const char* group, double min, double max, double step) {
  StatusBlock& s = *block_;
  GroupRange& r = s.ranges[s.range_count++];
  std::memset(r.bank, 0, kBankBytes);
  std::strncpy(r.bank, group, kBankBytes - 1);
  r.min = min, r.max = max, r.step = step, r.known = 1;
}

std::vector<Served> BridgeFixture::serve(uint32_t result, const char* reply) {
  std::vector<Served> out;
  for (ControlOp& rec : block_->ring.op) {
    if (rec.seq == 0 || rec.done_seq == rec.seq) continue;
    out.push_back({rec.op, rec.channel, rec.arg, rec.value,
                   std::string(rec.group, strnlen(rec.group, kBankBytes)), rec.arg2});
    std::strncpy(rec.reply, reply, kReplyBytes - 1);
    rec.result = result;
    rec.done_seq = rec.seq;
  }
  return out;
}

}  // namespace ks::tray::test
