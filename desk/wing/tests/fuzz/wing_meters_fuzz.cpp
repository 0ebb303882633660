// WING meter datagrams of any size and content: classified, and every level that is read back
// is a finite number at or above the floor.
#include <cmath>
#include <cstring>

#include "desk/wing/wing_meters_frame.h"
#include "tests/support/fuzz_check.h"

using namespace ks;

namespace {
MeterLevels g_levels;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_levels.reset();
  // Mostly the frame's own id, so decoding is reached; a first byte of 0xFF makes it another's.
  uint32_t id = size >= 4 && data[0] != 0xFF ? read_be32(data) : 77;
  Tick now = 1000;
  for (int round = 0; round < 2; ++round, now += 900) {
    MeterDatagram d = g_levels.take(data, size, id, now);
    if (size < 4) KS_FUZZ_CHECK(d == MeterDatagram::kTooShort);
    if (d == MeterDatagram::kDecoded || d == MeterDatagram::kFirstDecoded)
      KS_FUZZ_CHECK(size == kMeterFrameSize);
  }
  for (size_t g = 0; g < kMeterGroupCount; ++g) {
    const MeterGroup& grp = kMeterGroups[g];
    for (int32_t n = 0; n <= int32_t(grp.channels) + 1; ++n) {
      double db = 0;
      bool known = g_levels.level(grp.name, n, &db);
      if (n < 1 || n > int32_t(grp.channels)) KS_FUZZ_CHECK(!known);
      if (known) KS_FUZZ_CHECK(std::isfinite(db) && db >= kMeterFloorDb);
      if (g_levels.peak(grp.name, n, now, &db))
        KS_FUZZ_CHECK(std::isfinite(db) && db >= kMeterFloorDb);
      g_levels.clip(grp.name, n, now);
    }
  }
  return 0;
}
