// Meter subscription bytes and frame decoding, on frames built here byte by byte and time stepped
// by hand.
#include "desk/wing/wing_meters_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace ks {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const NodeFrame& f) { return Bytes(f.bytes, f.bytes + f.fill); }

// A frame for subscription `id` with one raw 1/256 dB word per channel, in frame order.
Bytes frame(uint32_t id, const std::vector<int16_t>& raw) {
  Bytes out = {uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)};
  for (int16_t v : raw) {
    out.push_back(uint8_t(uint16_t(v) >> 8));
    out.push_back(uint8_t(uint16_t(v)));
  }
  return out;
}

// Every channel at `db` (a multiple of 1/256).
Bytes flat_frame(uint32_t id, double db) {
  return frame(id, std::vector<int16_t>(kMeterChannelCount, int16_t(std::lround(db * 256))));
}

// LCL 1 at `db`, everything else silent.
Bytes lcl1_frame(uint32_t id, double db) {
  std::vector<int16_t> raw(kMeterChannelCount, int16_t(-100 * 256));
  raw[0] = int16_t(std::lround(db * 256));
  return frame(id, raw);
}

MeterDatagram take(MeterLevels& m, const Bytes& b, uint32_t id, Tick now) {
  return m.take(b.data(), b.size(), id, now);
}

TEST(WingMeterSubscription, GoldenBytes) {
  struct Case {
    uint16_t port;
    uint32_t id;
    Bytes head;  // the bytes up to the id
  } cases[] = {
      {0x1234, 0x40, {0xDF, 0xD3, 0xD3, 0x12, 0x34}},
      // Ports whose bytes hold 0xDF go out escaped; ports above 32767 are ordinary.
      {0xDF10, 0x20, {0xDF, 0xD3, 0xD3, 0xDF, 0xDE, 0x10}},
      {0x10DF, 0x9F, {0xDF, 0xD3, 0xD3, 0x10, 0xDF, 0xDE}},
      {0xDFDF, 0x80, {0xDF, 0xD3, 0xD3, 0xDF, 0xDE, 0xDF, 0xDE}},
  };
  for (const Case& c : cases) {
    NodeFrame f;
    frame_reset(f);
    meter_put_subscription(f, c.port, c.id);
    Bytes want = c.head;
    for (uint8_t b : {0xD4, 0x00, 0x00, 0x00}) want.push_back(b);
    want.push_back(uint8_t(c.id));
    for (uint8_t b : {0xDC, 0xA7}) want.push_back(b);
    for (uint8_t g = 0; g < 12; ++g) want.push_back(g);
    want.push_back(0xDE);
    EXPECT_EQ(bytes_of(f), want) << "port " << c.port;
    EXPECT_FALSE(f.overflow);
  }

  NodeFrame r;
  frame_reset(r);
  meter_put_renewal(r, 0x77);
  EXPECT_EQ(bytes_of(r), (Bytes{0xD4, 0x00, 0x00, 0x00, 0x77}));
}

TEST(WingMeterSubscription, IdStaysInItsRange) {
  struct Case {
    Tick tick;
    uint64_t salt;
    uint32_t id;
  } cases[] = {
      {0, 0, 32},        {127, 0, 159},        {128, 0, 32},
      {5, 5, 32},        {0xFFFFFFFF, 0, 159}, {1, 0x1000000000000002ull, 35},
      {0x80, 0x7F, 159},
  };
  for (const Case& c : cases) EXPECT_EQ(meter_subscription_id(c.tick, c.salt), c.id) << c.tick;
}

TEST(WingMeterGroups, TableAndLookup) {
  EXPECT_EQ(meter_group_channels("LCL"), 24u);
  EXPECT_EQ(meter_group_channels("lcl"), 24u);
  EXPECT_EQ(meter_group_channels("Usr"), 56u);
  EXPECT_EQ(meter_group_channels("CRD"), 64u);
  EXPECT_EQ(meter_group_channels("AES"), 2u);
  EXPECT_EQ(meter_group_channels("BUS"), 0u);
  EXPECT_EQ(meter_group_channels(""), 0u);
  EXPECT_EQ(meter_group_channels(nullptr), 0u);
  EXPECT_EQ(meter_group_channels("LCLX"), 0u);
  for (size_t g = 0; g < kMeterGroupCount; ++g) EXPECT_EQ(kMeterGroups[g].number, g + 1);
}

TEST(WingMeterFrame, EveryChannelLandsInItsGroup) {
  // A distinct word per channel: a group or channel offset by one shows as a wrong level.
  std::vector<int16_t> raw;
  for (size_t g = 0; g < kMeterGroupCount; ++g)
    for (int i = 0; i < kMeterGroups[g].channels; ++i)
      raw.push_back(int16_t(-int(g) * 512 - i * 3 - 1));
  raw[0] = 0x7FFF;                       // LCL 1: the loudest word
  raw[kMeterChannelCount - 1] = -32768;  // USR 56: the quietest
  MeterLevels m;
  ASSERT_EQ(take(m, frame(77, raw), 77, 1000), MeterDatagram::kFirstDecoded);
  EXPECT_TRUE(m.flowing());
  EXPECT_EQ(m.frames(), 1u);

  size_t k = 0;
  for (size_t g = 0; g < kMeterGroupCount; ++g) {
    for (int i = 1; i <= kMeterGroups[g].channels; ++i, ++k) {
      double db = 0;
      ASSERT_TRUE(m.level(kMeterGroups[g].name, i, &db)) << kMeterGroups[g].name << " " << i;
      EXPECT_DOUBLE_EQ(db, raw[k] / 256.0) << kMeterGroups[g].name << " " << i;
    }
    EXPECT_FALSE(m.level(kMeterGroups[g].name, kMeterGroups[g].channels + 1, nullptr));
  }
  double db = 0;
  ASSERT_TRUE(m.level("lcl", 1, &db));
  EXPECT_DOUBLE_EQ(db, 32767 / 256.0);
  ASSERT_TRUE(m.level("USR", 56, &db));
  EXPECT_DOUBLE_EQ(db, -128.0);

  ASSERT_EQ(take(m, frame(77, raw), 77, 1020), MeterDatagram::kDecoded);
  EXPECT_EQ(m.frames(), 2u);
}

TEST(WingMeterFrame, QueriesOutsideTheFrameAreFalse) {
  MeterLevels m;
  double db = 1.0;
  EXPECT_FALSE(m.level("LCL", 1, &db)) << "nothing before the first frame";
  EXPECT_FALSE(m.peak("LCL", 1, 0, &db));
  ASSERT_EQ(take(m, flat_frame(40, 0.0), 40, 0), MeterDatagram::kFirstDecoded);
  static const char unterminated[8] = {'L', 'C', 'L', 'L', 'C', 'L', 'L', 'C'};
  struct Case {
    const char* bank;
    int32_t n;
  } bad[] = {
      {"LCL", 25}, {"LCL", 0}, {"LCL", -1},  {"AES", 3},       {"MOD", 65},
      {"BUS", 1},  {"", 1},    {nullptr, 1}, {"LCLLCLLCL", 1}, {unterminated, 1},
  };
  for (const Case& c : bad) {
    EXPECT_FALSE(m.level(c.bank, c.n, &db)) << (c.bank ? c.bank : "null") << " " << c.n;
    EXPECT_FALSE(m.peak(c.bank, c.n, 0, &db));
    EXPECT_FALSE(m.clip(c.bank, c.n, 0));
  }
  EXPECT_EQ(db, 1.0) << "a false query leaves the output alone";
  EXPECT_TRUE(m.level("MOD", 64, &db));
}

TEST(WingMeterFrame, BadDatagramsAreNotDecoded) {
  const Bytes good = flat_frame(50, -20.0);
  struct Case {
    const char* what;
    Bytes bytes;
    MeterDatagram result;
    bool stays_flowing;
  } cases[] = {
      {"892 bytes", Bytes(good.begin(), good.end() - 4), MeterDatagram::kWrongSize, false},
      {"895 bytes", Bytes(good.begin(), good.end() - 1), MeterDatagram::kWrongSize, false},
      {"897 bytes",
       [&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }(),
       MeterDatagram::kWrongSize, false},
      {"2048 bytes", Bytes(2048, 0), MeterDatagram::kWrongSize, false},
      {"4 bytes", Bytes(good.begin(), good.begin() + 4), MeterDatagram::kWrongSize, false},
      {"3 bytes", Bytes{0, 0, 0}, MeterDatagram::kTooShort, true},
      {"empty", Bytes{}, MeterDatagram::kTooShort, true},
      {"another id", flat_frame(51, 0.0), MeterDatagram::kWrongId, true},
      {"id 0", flat_frame(0, 0.0), MeterDatagram::kWrongId, true},
      {"desk answer", Bytes{'W', 'I', 'N', 'G', ',', '1'}, MeterDatagram::kDeskAnswer, true},
  };
  for (const Case& c : cases) {
    MeterLevels m;
    ASSERT_EQ(take(m, good, 50, 100), MeterDatagram::kFirstDecoded);
    EXPECT_EQ(take(m, c.bytes, 50, 120), c.result) << c.what;
    EXPECT_EQ(m.flowing(), c.stays_flowing) << c.what;
    EXPECT_EQ(m.frames(), 1u) << c.what;
    EXPECT_EQ(m.wrong_size_frames(), c.result == MeterDatagram::kWrongSize ? 1u : 0u) << c.what;
    EXPECT_EQ(m.wrong_id_frames(), c.result == MeterDatagram::kWrongId ? 1u : 0u) << c.what;
    double db = 0;
    if (c.stays_flowing) {
      ASSERT_TRUE(m.level("LCL", 1, &db));
      EXPECT_DOUBLE_EQ(db, -20.0) << c.what << ": levels untouched";
    } else {
      EXPECT_FALSE(m.level("LCL", 1, &db)) << c.what << ": no levels while the size is wrong";
    }
  }
  // A null buffer is no frame at all.
  MeterLevels m;
  EXPECT_EQ(m.take(nullptr, 896, 1, 0), MeterDatagram::kTooShort);
}

TEST(WingMeterFrame, WrongSizeThenGoodFrameFlowsAgain) {
  MeterLevels m;
  Bytes good = lcl1_frame(60, -6.0);
  Bytes short_frame(good.begin(), good.end() - 4);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(take(m, short_frame, 60, Tick(i)), MeterDatagram::kWrongSize);
  EXPECT_EQ(m.wrong_size_frames(), 5u);
  EXPECT_EQ(m.frames(), 0u);
  EXPECT_EQ(take(m, good, 60, 10), MeterDatagram::kFirstDecoded);
  double db = 0;
  ASSERT_TRUE(m.level("LCL", 1, &db));
  EXPECT_DOUBLE_EQ(db, -6.0);
  m.reset();
  EXPECT_FALSE(m.flowing());
  EXPECT_EQ(m.wrong_size_frames(), 0u);
  EXPECT_EQ(m.frames(), 0u);
}

TEST(WingMeterFrame, HoldDecaysAfterItsTime) {
  for (Tick t0 : {Tick(5000), Tick(0xFFFFFC00)}) {  // the second one crosses the wrap
    MeterLevels m;
    ASSERT_NE(take(m, lcl1_frame(33, 0.0), 33, t0), MeterDatagram::kTooShort);
    struct Step {
      uint32_t at;
      double peak;
    } steps[] = {
        {0, 0.0}, {1000, 0.0}, {1600, 0.0}, {1850, -5.0}, {2100, -10.0},
    };
    for (const Step& s : steps) {
      // Quieter frames meanwhile do not refresh the hold.
      ASSERT_EQ(take(m, lcl1_frame(33, -60.0), 33, t0 + s.at), MeterDatagram::kDecoded);
      double db = 99;
      ASSERT_TRUE(m.peak("LCL", 1, t0 + s.at, &db));
      EXPECT_NEAR(db, s.peak, 1e-9) << "at " << s.at << " ms";
      ASSERT_TRUE(m.level("LCL", 1, &db));
      EXPECT_DOUBLE_EQ(db, -60.0);
    }
    // A level above the decayed hold takes over and holds afresh.
    ASSERT_EQ(take(m, lcl1_frame(33, -8.0), 33, t0 + 2200), MeterDatagram::kDecoded);
    double db = 0;
    ASSERT_TRUE(m.peak("LCL", 1, t0 + 3700, &db));
    EXPECT_DOUBLE_EQ(db, -8.0);
    // Once decayed below the level, the peak is the level.
    ASSERT_EQ(take(m, lcl1_frame(33, -40.0), 33, t0 + 6000), MeterDatagram::kDecoded);
    ASSERT_TRUE(m.peak("LCL", 1, t0 + 6000, &db));
    EXPECT_DOUBLE_EQ(db, -40.0);
  }
}

TEST(WingMeterFrame, ClipThresholdAndWindow) {
  struct Case {
    double db;
    bool clip;
  } cases[] = {
      {-0.5, true}, {-0.6, false}, {0.0, true}, {6.0, true}, {-0.5 - 1 / 256.0, false},
  };
  for (const Case& c : cases) {
    MeterLevels m;
    ASSERT_NE(take(m, lcl1_frame(90, c.db), 90, 100), MeterDatagram::kWrongId);
    EXPECT_EQ(m.clip("LCL", 1, 100), c.clip) << c.db;
    EXPECT_FALSE(m.clip("LCL", 2, 100)) << "only the loud channel";
  }
  MeterLevels m;
  const Tick t0 = 0xFFFFF000;
  take(m, lcl1_frame(90, 0.0), 90, t0);
  take(m, lcl1_frame(90, -30.0), 90, t0 + 2000);
  EXPECT_TRUE(m.clip("LCL", 1, t0 + 2499));
  EXPECT_FALSE(m.clip("LCL", 1, t0 + 2500));
  m.set_flowing(false);
  EXPECT_FALSE(m.clip("LCL", 1, t0 + 100)) << "nothing while the stream is down";
}

TEST(WingMeterFrame, OldClipDoesNotReturnWhenTheTickWraps) {
  MeterLevels m;
  take(m, lcl1_frame(90, 0.0), 90, 1000);
  EXPECT_TRUE(m.clip("LCL", 1, 1010));
  take(m, lcl1_frame(90, -30.0), 90, 4000);  // a quiet frame after the window forgets the clip
  // 2^32 ms after the clip the tick reads 1010 again: the clip must not light up once more.
  EXPECT_FALSE(m.clip("LCL", 1, 1010));
}

TEST(WingMeterFrame, RandomDatagramsNeverDecodeAsOurs) {
  std::mt19937 rng(1234);
  MeterLevels m;
  for (int i = 0; i < 2000; ++i) {
    size_t n = rng() % 1200;
    if (i % 10 == 0) n = kMeterFrameSize;
    Bytes b(n);
    for (uint8_t& x : b) x = uint8_t(rng());
    if (n >= 4) b[0] = 1;  // never id 40
    MeterDatagram r = take(m, b, 40, Tick(i));
    EXPECT_TRUE(r != MeterDatagram::kDecoded && r != MeterDatagram::kFirstDecoded);
  }
  EXPECT_EQ(m.frames(), 0u);
  EXPECT_FALSE(m.flowing());
}

}  // namespace
}  // namespace ks
