// The status link over blocks written byte by byte at the offsets the module side publishes, so a
// field read from the wrong place shows here and not only on a live system.
#include "tray/services/status_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os/shared_memory.h"

namespace ks::tray {
namespace {

// Raw block bytes, aligned as a mapped view is.
struct RawBlock {
  explicit RawBlock(size_t n = sizeof(StatusBlock)) : words((n + 7) / 8, 0), size(n) {}
  uint8_t* base() { return reinterpret_cast<uint8_t*>(words.data()); }
  BlockView view() { return {base(), size}; }
  void u32(size_t off, uint32_t v) { std::memcpy(base() + off, &v, 4); }
  void f64(size_t off, double v) { std::memcpy(base() + off, &v, 8); }
  void text(size_t off, const std::string& s) { std::memcpy(base() + off, s.data(), s.size()); }
  void fill(size_t off, size_t n, char c) { std::memset(base() + off, c, n); }
  uint32_t get32(size_t off) {
    uint32_t v;
    std::memcpy(&v, base() + off, 4);
    return v;
  }
  std::string get_text(size_t off, size_t n) {
    return std::string(reinterpret_cast<char*>(base()) + off,
                       strnlen(reinterpret_cast<char*>(base()) + off, n));
  }
  std::vector<uint64_t> words;
  size_t size;
};

RawBlock status_block(uint32_t version) {
  RawBlock b;
  b.text(0, "GNGW");
  b.u32(4, version);
  return b;
}

// Offsets of the ring as the module reads them.
constexpr size_t kRing = 5376, kOpSize = 144, kLastPosted = 6528;
size_t slot_at(uint32_t seq) { return kRing + (seq & 7) * kOpSize; }

// The module's side of a slot: serve it with a result and a reply.
void serve(RawBlock& b, uint32_t seq, uint32_t result, const std::string& reply) {
  const size_t at = slot_at(seq);
  b.fill(at + 48, 96, 0);
  b.text(at + 48, reply);
  b.u32(at + 44, result);
  b.u32(at + 40, seq);
}

TEST(StatusSnapshot, CopiesEachFieldFromItsOffset) {
  RawBlock b = status_block(17);
  b.text(8, "192.168.1.50");
  b.text(72, "WING,192.168.1.50,PGM,wing-compact,S123,3.0.5");
  b.u32(232, 1);  // desk answering
  b.u32(280, 1);  // lv1 loaded
  b.text(968, "Linked");
  b.text(1064 + 3 * 8, "LCL");  // ch 4's source bank
  b.u32(1576 + 3 * 4, 17);      // and input
  b.base()[1832 + 3] = 1;       // has a head amp
  b.u32(10012, 2);              // discovery decision
  b.u32(10016, 2);
  b.text(10020 + 156, "10.0.0.9");  // answer 1's ip
  b.text(10020 + 156 + 48, "FOH");  // its name
  b.u32(10020 + 156 + 152, 1);      // its card
  b.text(10956, "S123");
  b.u32(10996, 1);
  b.text(11000, "AES50A");
  b.u32(11000 + 8, 3);
  b.u32(11000 + 12, 2);
  b.u32(11064, 3);
  b.u32(11068, 4);
  b.text(11072, "10.0.0.8");
  b.text(11120, "S999");
  b.text(11160, "Monitor");

  StatusSnapshot s = snapshot_of(b.view());
  EXPECT_EQ(s.present, 1u);
  EXPECT_EQ(s.version, 17u);
  EXPECT_EQ(s.desk_answering, 1u);
  EXPECT_EQ(s.lv1_loaded, 1u);
  EXPECT_STREQ(s.desk_line, "WING,192.168.1.50,PGM,wing-compact,S123,3.0.5");
  EXPECT_STREQ(s.status_text, "Linked");
  EXPECT_STREQ(s.src_bank[3], "LCL");
  EXPECT_EQ(s.src_input[3], 17u);
  EXPECT_EQ(s.has_head_amp[3], 1);
  EXPECT_EQ(s.has_head_amp[2], 0);
  EXPECT_EQ(s.discovery_decision, 2u);
  EXPECT_EQ(s.answer_count, 2u);
  EXPECT_STREQ(s.answers[1].ip, "10.0.0.9");
  EXPECT_STREQ(s.answers[1].name, "FOH");
  EXPECT_EQ(s.answers[1].card, 1);
  EXPECT_STREQ(s.chosen_console, "S123");
  EXPECT_EQ(s.source_device_count, 1u);
  EXPECT_STREQ(s.source_devices[0].port, "AES50A");
  EXPECT_EQ(s.source_devices[0].device, 3);
  EXPECT_EQ(s.source_devices[0].strips_without_head_amp, 2u);
  EXPECT_EQ(s.address_state, 3u);
  EXPECT_EQ(s.address_moves, 4u);
  EXPECT_STREQ(s.address_ip, "10.0.0.8");
  EXPECT_STREQ(s.address_id, "S999");
  EXPECT_STREQ(s.address_name, "Monitor");

  char line[16];
  EXPECT_TRUE(desk_line_of(b.view(), line, sizeof line));
  EXPECT_STREQ(line, "WING,192.168.1.");  // bounded by the caller's buffer
}

// Each layout version carries only the fields it had; later ones stay zero.
TEST(StatusSnapshot, FieldsAreGatedByLayoutVersion) {
  struct Case {
    uint32_t version;
    bool discovery, devices, address;
  } cases[] = {{13, false, false, false}, {14, false, false, false}, {15, true, false, false},
               {16, true, true, false},   {17, true, true, true},    {99, true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    RawBlock b = status_block(c.version);
    b.text(72, "X32,10.0.0.2");
    b.u32(10012, 1);
    b.u32(10016, 1);
    b.u32(10996, 2);
    b.u32(11064, 2);
    b.text(11072, "10.0.0.2");
    StatusSnapshot s = snapshot_of(b.view());
    EXPECT_EQ(s.present, 1u);
    EXPECT_STREQ(s.desk_line, "X32,10.0.0.2");
    EXPECT_EQ(s.discovery_decision, c.discovery ? 1u : 0u);
    EXPECT_EQ(s.answer_count, c.discovery ? 1u : 0u);
    EXPECT_EQ(s.source_device_count, c.devices ? 2u : 0u);
    EXPECT_EQ(s.address_state, c.address ? 2u : 0u);
    EXPECT_STREQ(s.address_ip, c.address ? "10.0.0.2" : "");
  }
}

// What another process may leave there: nothing is read past a field or the block, counts are
// clamped, and a block that is not one reads as absent.
TEST(StatusSnapshot, HostileBlocks) {
  {
    RawBlock b = status_block(17);
    b.fill(72, 160, 'L');      // desk line without a NUL
    b.fill(968, 96, 'S');      // status text without a NUL, runs into the source banks
    b.fill(1064, 512, 'B');    // every bank 8 characters
    b.u32(10016, 0xFFFFFFFF);  // answer count
    b.fill(10020, 156 * 6, 'A');
    b.u32(10996, 1000);  // source devices
    b.fill(11000, 64, 'P');
    b.fill(11072, 128, 'I');  // address texts to the end of the block
    StatusSnapshot s = snapshot_of(b.view());
    EXPECT_EQ(std::string(s.desk_line), std::string(159, 'L'));
    EXPECT_EQ(std::string(s.status_text), std::string(95, 'S'));
    EXPECT_EQ(std::string(s.src_bank[63]), std::string(7, 'B'));
    EXPECT_EQ(s.answer_count, kAnswerSummaries);
    EXPECT_EQ(std::string(s.answers[5].id), std::string(39, 'A'));
    EXPECT_EQ(s.source_device_count, kSourceDevices);
    EXPECT_EQ(std::string(s.source_devices[3].port), std::string(7, 'P'));
    EXPECT_EQ(std::string(s.address_name), std::string(39, 'I'));
    char line[200];
    EXPECT_TRUE(desk_line_of(b.view(), line, sizeof line));
    EXPECT_EQ(std::string(line), std::string(159, 'L'));
  }
  struct Absent {
    const char* what;
    size_t size;
    const char* magic;
  } absent[] = {{"short by one byte", sizeof(StatusBlock) - 1, "GNGW"},
                {"four bytes", 4, "GNGW"},
                {"another magic", sizeof(StatusBlock), "DLSK"},
                {"zeroed while the module re-stamps it", sizeof(StatusBlock), "\0\0\0\0"}};
  for (const Absent& a : absent) {
    SCOPED_TRACE(a.what);
    RawBlock b(a.size);
    std::memcpy(b.base(), a.magic, 4);
    if (a.size >= 8) b.u32(4, 17);
    if (a.size > 100) b.text(72, "WING");
    EXPECT_EQ(snapshot_of(b.view()).present, 0u);
    char line[8] = "x";
    EXPECT_FALSE(desk_line_of(b.view(), line, sizeof line));
    EXPECT_STREQ(line, "");
    EXPECT_EQ(ring_post(b.view(), {6, 0, 0, 1.0, {}, 0}), 0u);
  }
  EXPECT_EQ(snapshot_of({}).present, 0u);
  StatusSnapshot zero;
  EXPECT_EQ(zero.present, 0u);
  EXPECT_EQ(zero.answer_count, 0u);
}

TEST(CommandRing, PostWritesTheRequestAtTheModulesOffsetsAndSeqLast) {
  RawBlock b = status_block(17);
  b.u32(kLastPosted, 41);
  uint32_t seq = ring_post(b.view(), {5, 12, 3, -2.5, "AES50ABCD", 9});
  ASSERT_EQ(seq, 42u);
  const size_t at = slot_at(42);
  EXPECT_EQ(b.get32(at + 0), 42u);
  EXPECT_EQ(b.get32(at + 4), 5u);
  EXPECT_EQ(b.get32(at + 8), 12u);
  EXPECT_EQ(b.get32(at + 12), 3u);
  EXPECT_EQ(b.get32(at + 16), 9u);
  double v;
  std::memcpy(&v, b.base() + at + 24, 8);
  EXPECT_EQ(v, -2.5);
  EXPECT_EQ(std::memcmp(b.base() + at + 32, "AES50AB\0", 8), 0);  // 7 characters and the NUL
  EXPECT_EQ(b.get32(at + 40), 0u);
  EXPECT_EQ(b.get32(at + 44), 0u);
  EXPECT_EQ(b.get32(kLastPosted), 42u);

  uint32_t result = 0;
  std::string reply;
  EXPECT_FALSE(ring_result(b.view(), seq, &result, &reply));  // still pending
  serve(b, seq, 2, "refused: input is protected");
  ASSERT_TRUE(ring_result(b.view(), seq, &result, &reply));
  EXPECT_EQ(result, 2u);
  EXPECT_EQ(reply, "refused: input is protected");
  EXPECT_FALSE(ring_result(b.view(), 0, &result, &reply));
  EXPECT_FALSE(ring_result(b.view(), seq + 8, &result, &reply));  // same slot, another command
}

// Eight pending fill the ring; the ninth is refused until the module answers its slot; a served
// slot is reused with its old reply cleared.
TEST(CommandRing, NinthPendingIsRefusedUntilItsSlotIsServed) {
  RawBlock b = status_block(17);
  std::vector<uint32_t> seqs;
  for (int i = 0; i < 8; ++i) seqs.push_back(ring_post(b.view(), {6, i, 0, 1.0, {}, 0}));
  EXPECT_EQ(seqs, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  PostRefusal why = PostRefusal::none;
  EXPECT_EQ(ring_post(b.view(), {6, 9, 0, 1.0, {}, 0}, &why), 0u);
  EXPECT_EQ(why, PostRefusal::ring_full);
  EXPECT_EQ(b.get32(kLastPosted), 8u);

  serve(b, 1, 1, "gain ch 1 +1.0 dB");  // slot 1 is the ninth's (9 & 7)
  EXPECT_EQ(ring_post(b.view(), {6, 9, 0, 1.0, {}, 0}, &why), 9u);
  EXPECT_EQ(why, PostRefusal::none);
  EXPECT_EQ(b.get_text(slot_at(9) + 48, 96), "");
  EXPECT_FALSE(ring_result(b.view(), 1, nullptr, nullptr));  // the slot moved on
  EXPECT_FALSE(ring_result(b.view(), 9, nullptr, nullptr));
}

// A hostile or torn ring: a last sequence at the top wraps past 0 (which marks a free slot), and a
// reply with no NUL stops at its field instead of reading into the next slot.
TEST(CommandRing, HostileSequenceAndUnterminatedReply) {
  RawBlock b = status_block(17);
  b.u32(kLastPosted, 0xFFFFFFFF);
  uint32_t seq = ring_post(b.view(), {1, 0, 0, 0.0, {}, 0});
  EXPECT_EQ(seq, 1u);
  EXPECT_EQ(b.get32(slot_at(1)), 1u);
  serve(b, 1, 1, "");
  b.fill(slot_at(1) + 48, 96, 'R');
  b.fill(slot_at(2), kOpSize, 'N');  // the next slot's bytes must not show up
  std::string reply;
  ASSERT_TRUE(ring_result(b.view(), 1, nullptr, &reply));
  EXPECT_EQ(reply, std::string(95, 'R'));
}

// A module serving the ring while the tray posts: it must never find a slot pending under its
// previous sequence with the next request's fields half written (it would serve that request
// twice). Each request carries its own sequence in arg, so a mismatch shows such a read.
TEST(CommandRing, ModuleNeverSeesAHalfWrittenRequestUnderTheOldSequence) {
  RawBlock b = status_block(17);
  auto* block = reinterpret_cast<StatusBlock*>(b.base());
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, served{0};
  std::thread module([&] {
    while (!stop.load()) {
      for (ControlOp& rec : block->ring.op) {
        const uint32_t seq = shm_load(rec.seq);
        if (seq == 0 || shm_load(rec.done_seq) == seq) continue;
        const uint32_t arg = __atomic_load_n(&rec.arg, __ATOMIC_ACQUIRE);
        if (shm_load(rec.seq) != seq) continue;
        if (arg != seq) ++bad;
        ++served;
        shm_store(rec.done_seq, seq);
      }
    }
  });
  for (uint32_t posted = 0; posted < 20000;) {
    const uint32_t next = shm_load(block->last_posted_seq) + 1;
    if (ring_post(b.view(), {6, 0, next, 0.0, {}, 0}) != 0) ++posted;
  }
  while (served.load() < 20000 && bad.load() == 0) std::this_thread::yield();
  stop = true;
  module.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(served.load(), 20000);
}

TEST(CommandRing, MinimumLayoutVersions) {
  struct Case {
    uint32_t version;
    uint32_t op;
    int32_t channel;
    bool accepted;
  } cases[] = {
      {12, 1, 0, false}, {12, 6, 3, false},  {12, 8, 0, false}, {13, 1, 0, true},
      {13, 4, 0, true},  {13, 6, 63, true},  {13, 8, 0, true},  {13, 8, -1, false},
      {13, 9, 0, false}, {13, 10, 0, false}, {14, 8, -1, true}, {14, 9, -1, true},
      {14, 10, 5, true}, {17, 10, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "v" << c.version << " op " << c.op << " ch " << c.channel);
    RawBlock b = status_block(c.version);
    PostRefusal why = PostRefusal::none;
    const uint32_t seq = ring_post(b.view(), {c.op, c.channel, 0, 0.0, {}, 0}, &why);
    EXPECT_EQ(seq != 0, c.accepted);
    EXPECT_EQ(why, c.accepted ? PostRefusal::none : PostRefusal::too_old);
  }
  RawBlock old = status_block(12);
  serve(old, 3, 1, "x");
  old.u32(slot_at(3), 3);
  EXPECT_FALSE(ring_result(old.view(), 3, nullptr, nullptr));  // results need 13 too
}

TEST(Requests, WatchAndResyncWriteTheirFieldsAndBumpTheSequence) {
  RawBlock b = status_block(17);
  b.u32(880, 7);
  b.u32(2224, 1);
  write_watch_request(b.view(), "USBLONGNAME", 9, 16);
  EXPECT_EQ(b.get32(880), 8u);
  EXPECT_EQ(std::memcmp(b.base() + 884, "USBLONG\0", 8), 0);
  EXPECT_EQ(b.get32(892), 9u);
  EXPECT_EQ(b.get32(896), 16u);
  EXPECT_EQ(b.get32(900), 1u);
  EXPECT_EQ(b.get32(2224), 1u);  // the resync word is not the watch request's business

  write_watch_request(b.view(), "", 1, 8);  // no bank: the module keeps its own
  EXPECT_EQ(b.get_text(884, 8), "USBLONG");
  EXPECT_EQ(b.get32(880), 9u);

  b.fill(264, 8, 'W');  // the block's watch bank, unterminated
  b.u32(272, 33);
  b.u32(276, 24);
  write_resync_request(b.view(), false);
  EXPECT_EQ(b.get32(2224), 0u);
  EXPECT_EQ(std::memcmp(b.base() + 884, "WWWWWWW\0", 8), 0);
  EXPECT_EQ(b.get32(892), 33u);
  EXPECT_EQ(b.get32(896), 24u);
  EXPECT_EQ(b.get32(880), 10u);
  write_resync_request(b.view(), true);
  EXPECT_EQ(b.get32(2224), 1u);
  EXPECT_EQ(b.get32(880), 11u);
}

TEST(Requests, GroupCacheKey) {
  RawBlock b = status_block(17);
  b.text(8, "10.1.2.3");
  EXPECT_EQ(group_cache_key_of(b.view(), "aes"), "10.1.2.3/AES");
  EXPECT_EQ(group_cache_key_of(b.view(), ""), "10.1.2.3/");
  b.fill(8, 64, '9');
  EXPECT_EQ(group_cache_key_of(b.view(), "a"), std::string(63, '9') + "/A");
  EXPECT_EQ(group_cache_key_of({}, "lcl"), "/LCL");
}

std::vector<std::pair<std::string, uint32_t>> groups(RawBlock& b, size_t max) {
  char out[24][kBankBytes] = {};
  uint32_t counts[24] = {};
  size_t n = reroute_groups_of(b.view(), out, counts, max);
  std::vector<std::pair<std::string, uint32_t>> r;
  for (size_t i = 0; i < n; ++i) r.emplace_back(out[i], counts[i]);
  return r;
}

TEST(Requests, RerouteGroups) {
  using G = std::vector<std::pair<std::string, uint32_t>>;
  RawBlock b = status_block(17);
  b.text(72, "WING,10.0.0.5,FOH,wing-rack,S1,3.0");
  b.u32(2216, 3);
  b.text(1896, "MyBank");
  b.text(1896 + 40, "off");
  b.text(1896 + 80, "lcl");
  b.u32(276, 4);  // four watched channels
  b.text(1064, "A");
  b.text(1064 + 8, "a");
  b.text(1064 + 16, "mybank");
  b.text(1064 + 24, "");
  b.text(1064 + 32, "ZZZ");  // channel 5 is not watched
  EXPECT_EQ(groups(b, 24), (G{{"LCL", 0},
                              {"A", 2},
                              {"B", 0},
                              {"C", 0},
                              {"SC", 0},
                              {"USB", 0},
                              {"AES", 0},
                              {"MyBank", 1}}));
  EXPECT_EQ(groups(b, 2), (G{{"LCL", 0}, {"A", 2}}));

  b.text(72, "WING,10.0.0.5,FOH,wing,S1,3.0\0");
  EXPECT_EQ(groups(b, 24).size(), 9u);  // with AUX
  EXPECT_EQ(groups(b, 24)[1].first, "AUX");

  RawBlock x = status_block(17);  // no fixed list off a WING
  x.text(72, "X32,10.0.0.6");
  x.u32(2216, 200);  // a range count out of range reads as all eight
  x.u32(276, 1000);
  for (int i = 0; i < 8; ++i) x.text(1896 + 40 * i, "R" + std::to_string(i));
  for (int ch = 0; ch < 64; ++ch) x.text(1064 + 8 * ch, ch < 32 ? "AN" : "R1");
  G g = groups(x, 24);
  ASSERT_EQ(g.size(), 9u);
  EXPECT_EQ(g[1], (std::pair<std::string, uint32_t>{"R1", 32}));
  EXPECT_EQ(g[8], (std::pair<std::string, uint32_t>{"AN", 32}));
}

// ---- the loader block ----

struct LoaderRaw {
  alignas(8) uint8_t bytes[400] = {};
  void u32(size_t off, uint32_t v) { std::memcpy(bytes + off, &v, 4); }
};

TEST(LoaderBlockCopy, SizeFieldDecidesWhatIsCopied) {
  struct Case {
    uint32_t size_field;
    const char* magic;
    bool ok;
    size_t copied;
  } cases[] = {{304, "DLSK", true, 304}, {280, "DLSK", true, 280}, {272, "DLSK", true, 272},
               {400, "DLSK", true, 304}, {271, "DLSK", false, 0},  {200, "DLSK", false, 0},
               {304, "GNGW", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size_field);
    LoaderRaw raw;
    std::memset(raw.bytes, 0x5A, sizeof raw.bytes);
    std::memcpy(raw.bytes, c.magic, 4);
    raw.u32(4, c.size_field);
    uint8_t out[kLoaderBlockSize];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(loader_block_of({raw.bytes, sizeof raw.bytes}, out), c.ok);
    if (c.ok) {
      size_t copied = 0;
      for (size_t i = 8; i < c.copied; ++i) copied += out[i] == 0x5A;
      EXPECT_EQ(copied, c.copied - 8 - 7);  // seven texts end in a NUL inside their fields
      for (size_t i = c.copied; i < kLoaderBlockSize; ++i) ASSERT_EQ(out[i], 0) << i;
    } else {
      for (size_t i = 0; i < kLoaderBlockSize; ++i) ASSERT_EQ(out[i], 0) << i;
    }
  }
  // A view shorter than what the size field asks for is refused, not over-read.
  LoaderRaw shortened;
  std::memcpy(shortened.bytes, "DLSK", 4);
  shortened.u32(4, 304);
  uint8_t out[kLoaderBlockSize];
  EXPECT_FALSE(loader_block_of({shortened.bytes, 300}, out));
  uint8_t untouched[kLoaderBlockSize];
  std::memset(untouched, 0xEE, sizeof untouched);
  EXPECT_FALSE(loader_block_of({}, untouched));
  EXPECT_EQ(untouched[100], 0xEE);  // an absent block leaves the buffer alone
}

TEST(LoaderBlockCopy, TypeRecordsAtTheLoadersOffsets) {
  LoaderRaw raw;
  std::memcpy(raw.bytes, "DLSK", 4);
  raw.u32(4, 304);
  std::memcpy(raw.bytes + 8, "3.2.0", 5);
  std::memcpy(raw.bytes + 32 + 120, "x32", 3);
  std::memcpy(raw.bytes + 32 + 120 + 24, "4.1.0", 5);
  raw.u32(32 + 120 + 48, 3);
  raw.u32(32 + 120 + 52, 4551);
  std::memset(raw.bytes + 32 + 120 + 56, 'f', 64);  // failed file, unterminated
  raw.u32(276, 2);
  uint8_t out[kLoaderBlockSize];
  ASSERT_TRUE(loader_block_of({raw.bytes, 304}, out));
  const auto* lb = reinterpret_cast<const LoaderBlock*>(out);
  EXPECT_STREQ(lb->loader_version, "3.2.0");
  EXPECT_STREQ(lb->types[1].type_name, "x32");
  EXPECT_STREQ(lb->types[1].running_version, "4.1.0");
  EXPECT_EQ(lb->types[1].failure_count, 3u);
  EXPECT_EQ(lb->types[1].last_error, 4551u);
  EXPECT_EQ(std::string(lb->types[1].failed_file), std::string(63, 'f'));
  EXPECT_EQ(lb->extra_live_cards[1], 2u);
}

}  // namespace
}  // namespace ks::tray
