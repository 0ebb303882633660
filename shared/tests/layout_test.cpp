// Byte layouts of the records that cross binaries, checked field by field against the published
// offset tables, in both builds. Each table must also tile its record exactly: a field of the
// wrong width or hidden padding shows up as a gap or an overlap even when every offset matches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "shared/desk_driver.h"
#include "shared/gain_object.h"
#include "shared/iobox.h"
#include "shared/loader_block.h"
#include "shared/module_table.h"
#include "shared/status_block.h"

namespace ks {
namespace {

struct Field {
  const char* name;
  size_t offset;
  size_t size;
  size_t want_offset;
  size_t want_size;
};

#define KS_FIELD(T, f, off, sz) \
  Field { #f, offsetof(T, f), sizeof(((T*)nullptr)->f), off, sz }

void expect_layout(const char* record, size_t record_size, size_t want_size,
                   std::vector<Field> fields) {
  SCOPED_TRACE(record);
  EXPECT_EQ(record_size, want_size);
  for (const Field& f : fields) {
    EXPECT_EQ(f.offset, f.want_offset) << f.name;
    EXPECT_EQ(f.size, f.want_size) << f.name;
  }
  std::sort(fields.begin(), fields.end(),
            [](const Field& a, const Field& b) { return a.offset < b.offset; });
  size_t at = 0;
  for (const Field& f : fields) {
    EXPECT_EQ(f.offset, at) << "gap or overlap before " << f.name;
    at = f.offset + f.size;
  }
  EXPECT_EQ(at, record_size) << "the table does not reach the end of the record";
}

TEST(RecordLayout, ConsoleModuleTable) {
  using T = ConsoleModuleTable;
  expect_layout(
      "ConsoleModuleTable", sizeof(T), 104,
      {KS_FIELD(T, version, 0, 4), KS_FIELD(T, size, 4, 4), KS_FIELD(T, type_name, 8, 8),
       KS_FIELD(T, version_text, 16, 8), KS_FIELD(T, start, 24, 8), KS_FIELD(T, stop, 32, 8),
       KS_FIELD(T, attach, 40, 8), KS_FIELD(T, set_gain, 48, 8), KS_FIELD(T, set_phantom, 56, 8),
       KS_FIELD(T, has_preamp, 64, 8), KS_FIELD(T, gain_min, 72, 8), KS_FIELD(T, gain_max, 80, 8),
       KS_FIELD(T, gain_step, 88, 8), KS_FIELD(T, session_recall, 96, 8)});
}

TEST(RecordLayout, ModuleHost) {
  using T = ModuleHost;
  expect_layout("ModuleHost", sizeof(T), 80,
                {KS_FIELD(T, version, 0, 4), KS_FIELD(T, size, 4, 4), KS_FIELD(T, ctx, 8, 8),
                 KS_FIELD(T, config_path, 16, 8), KS_FIELD(T, status_suffix, 24, 8),
                 KS_FIELD(T, log, 32, 8), KS_FIELD(T, live_gain_object, 40, 8),
                 KS_FIELD(T, get_mac, 48, 8), KS_FIELD(T, lv1_listener, 56, 8),
                 KS_FIELD(T, report_to_lv1, 64, 8), KS_FIELD(T, rebuild_strip, 72, 8)});
}

TEST(RecordLayout, GainObject) {
  using T = GainObject;
  expect_layout("GainObject", sizeof(T), 792,
                {KS_FIELD(T, op0, 0, 8), KS_FIELD(T, gain_has_preamp, 8, 8),
                 KS_FIELD(T, gain_min_query, 16, 8), KS_FIELD(T, gain_max_query, 24, 8),
                 KS_FIELD(T, gain_step_query, 32, 8), KS_FIELD(T, gain_set, 40, 8),
                 KS_FIELD(T, gain_get, 48, 8), KS_FIELD(T, gain_has_48v, 56, 8),
                 KS_FIELD(T, phantom_set, 64, 8), KS_FIELD(T, phantom_get, 72, 8),
                 KS_FIELD(T, unused10_24, 80, 15 * 8),
                 KS_FIELD(T, set_gain_changed_callback, 200, 8), KS_FIELD(T, gain, 208, 64 * 8),
                 KS_FIELD(T, phantom, 720, 64), KS_FIELD(T, callback, 784, 8)});

  // The loader keeps 64 objects in one array and a module reads object i's caches at
  // i * 792 + 208 and i * 792 + 720: a value written through the record lands there.
  static GainObject objs[2];
  objs[1].gain[5] = -12.5;
  objs[1].phantom[63] = 1;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(objs);
  double at = 0;
  std::memcpy(&at, bytes + 792 + 208 + 5 * 8, 8);
  EXPECT_EQ(at, -12.5);
  EXPECT_EQ(bytes[792 + 720 + 63], 1);
  EXPECT_EQ(gain_object_gain(objs[1], 5), -12.5);
  EXPECT_TRUE(gain_object_phantom(objs[1], 63));
  EXPECT_EQ(gain_object_gain(objs[1], 64), 0.0) << "channel out of range reads as 0 dB";
  EXPECT_FALSE(gain_object_phantom(objs[1], 64));
}

TEST(RecordLayout, DeskDriver) {
  using T = DeskDriver;
  expect_layout(
      "DeskDriver", sizeof(T), 352,
      {KS_FIELD(T, model_name, 0x00, 8),         KS_FIELD(T, maker, 0x08, 8),
       KS_FIELD(T, identity, 0x10, 8),           KS_FIELD(T, connect, 0x18, 8),
       KS_FIELD(T, disconnect, 0x20, 8),         KS_FIELD(T, link_alive, 0x28, 8),
       KS_FIELD(T, discover, 0x30, 8),           KS_FIELD(T, adopt, 0x38, 8),
       KS_FIELD(T, read_preamp, 0x40, 8),        KS_FIELD(T, read_gain, 0x48, 8),
       KS_FIELD(T, read_phantom, 0x50, 8),       KS_FIELD(T, read_mute, 0x58, 8),
       KS_FIELD(T, read_mode, 0x60, 8),          KS_FIELD(T, stereo_lead, 0x68, 8),
       KS_FIELD(T, read_source, 0x70, 8),        KS_FIELD(T, set_patch, 0x78, 8),
       KS_FIELD(T, read_route, 0x80, 8),         KS_FIELD(T, read_name, 0x88, 8),
       KS_FIELD(T, gain_range, 0x90, 8),         KS_FIELD(T, is_preamp_bank, 0x98, 8),
       KS_FIELD(T, send_gain, 0xa0, 8),          KS_FIELD(T, send_phantom, 0xa8, 8),
       KS_FIELD(T, send_mode, 0xb0, 8),          KS_FIELD(T, set_event_callback, 0xb8, 8),
       KS_FIELD(T, meters_start, 0xc0, 8),       KS_FIELD(T, meters_stop, 0xc8, 8),
       KS_FIELD(T, meters_flowing, 0xd0, 8),     KS_FIELD(T, meter_frames, 0xd8, 8),
       KS_FIELD(T, meter_now, 0xe0, 8),          KS_FIELD(T, meter_peak, 0xe8, 8),
       KS_FIELD(T, meter_clip, 0xf0, 8),         KS_FIELD(T, sent_count, 0xf8, 8),
       KS_FIELD(T, received_count, 0x100, 8),    KS_FIELD(T, event_count, 0x108, 8),
       KS_FIELD(T, read_card_type, 0x110, 8),    KS_FIELD(T, headamp_type, 0x118, 8),
       KS_FIELD(T, read_port_devices, 0x120, 8), KS_FIELD(T, read_port_remote, 0x128, 8),
       KS_FIELD(T, stagebox_channels, 0x130, 8), KS_FIELD(T, caps, 0x138, 8),
       KS_FIELD(T, bank_size, 0x140, 8),         KS_FIELD(T, read_tcplock, 0x148, 8),
       KS_FIELD(T, ha_link_partner, 0x150, 8),   KS_FIELD(T, aes50_port_present, 0x158, 8)});
}

TEST(RecordLayout, DeskAnswer) {
  using T = DeskAnswer;
  expect_layout(
      "DeskAnswer", sizeof(T), 316,
      {KS_FIELD(T, ip, 0, 48), KS_FIELD(T, name, 48, 40), KS_FIELD(T, model, 88, 24),
       KS_FIELD(T, id, 112, 40), KS_FIELD(T, identity, 152, 160), KS_FIELD(T, card, 312, 4)});
}

TEST(RecordLayout, StatusBlock) {
  using T = StatusBlock;
  expect_layout("StatusBlock", sizeof(T), 11200,
                {KS_FIELD(T, magic, 0, 4),
                 KS_FIELD(T, version, 4, 4),
                 KS_FIELD(T, desk_ip, 8, 64),
                 KS_FIELD(T, desk_line, 72, 160),
                 KS_FIELD(T, desk_answering, 232, 4),
                 KS_FIELD(T, publish_mark, 236, 4),
                 KS_FIELD(T, range_min, 240, 8),
                 KS_FIELD(T, range_max, 248, 8),
                 KS_FIELD(T, range_step, 256, 8),
                 KS_FIELD(T, watch_bank, 264, 8),
                 KS_FIELD(T, watch_base, 272, 4),
                 KS_FIELD(T, watch_count, 276, 4),
                 KS_FIELD(T, lv1_loaded, 280, 4),
                 KS_FIELD(T, sent_count, 284, 4),
                 KS_FIELD(T, recv_count, 288, 4),
                 KS_FIELD(T, reserved292, 292, 4),
                 KS_FIELD(T, last_write_tick, 296, 8),
                 KS_FIELD(T, gain_db, 304, 64 * 8),
                 KS_FIELD(T, phantom, 816, 64),
                 KS_FIELD(T, watch_request, 880, 24),
                 KS_FIELD(T, mac, 904, 24),
                 KS_FIELD(T, profile, 928, 32),
                 KS_FIELD(T, patch_age_ms, 960, 4),
                 KS_FIELD(T, degraded, 964, 4),
                 KS_FIELD(T, status_text, 968, 96),
                 KS_FIELD(T, src_bank, 1064, 64 * 8),
                 KS_FIELD(T, src_input, 1576, 64 * 4),
                 KS_FIELD(T, has_head_amp, 1832, 64),
                 KS_FIELD(T, ranges, 1896, 8 * 40),
                 KS_FIELD(T, range_count, 2216, 4),
                 KS_FIELD(T, resync_echo, 2220, 4),
                 KS_FIELD(T, watch_resync, 2224, 4),
                 KS_FIELD(T, reserved2228, 2228, 4),
                 KS_FIELD(T, level_db, 2232, 64 * 8),
                 KS_FIELD(T, peak_db, 2744, 64 * 8),
                 KS_FIELD(T, clip, 3256, 64),
                 KS_FIELD(T, meters_live, 3320, 4),
                 KS_FIELD(T, meter_frames, 3324, 4),
                 KS_FIELD(T, channel_name, 3328, 64 * 20),
                 KS_FIELD(T, link_mode, 4608, 64),
                 KS_FIELD(T, mute_state, 4672, 64),
                 KS_FIELD(T, is_protected, 4736, 64),
                 KS_FIELD(T, parked_gain_db, 4800, 64 * 8),
                 KS_FIELD(T, parked_valid, 5312, 64),
                 KS_FIELD(T, ring, 5376, 8 * 144),
                 KS_FIELD(T, last_posted_seq, 6528, 4),
                 KS_FIELD(T, input_list_serial, 6532, 4),
                 KS_FIELD(T, input_list_group, 6536, 8),
                 KS_FIELD(T, input_list_count, 6544, 4),
                 KS_FIELD(T, input_list_reserved, 6548, 4),
                 KS_FIELD(T, input_list, 6552, 64 * 48),
                 KS_FIELD(T, protect_count, 9624, 4),
                 KS_FIELD(T, protect, 9628, 32 * 12),
                 KS_FIELD(T, discovery_decision, 10012, 4),
                 KS_FIELD(T, answer_count, 10016, 4),
                 KS_FIELD(T, answers, 10020, 6 * 156),
                 KS_FIELD(T, chosen_console, 10956, 40),
                 KS_FIELD(T, source_device_count, 10996, 4),
                 KS_FIELD(T, source_devices, 11000, 4 * 16),
                 KS_FIELD(T, address_state, 11064, 4),
                 KS_FIELD(T, address_moves, 11068, 4),
                 KS_FIELD(T, address_ip, 11072, 48),
                 KS_FIELD(T, address_id, 11120, 40),
                 KS_FIELD(T, address_name, 11160, 40)});

  EXPECT_EQ(kStatusMappingSize, 0x40000u);
  EXPECT_EQ(kStatusLayoutVersion, 17u);
  StatusBlock block{};
  block.magic = kStatusMagic;
  EXPECT_EQ(std::memcmp(&block, "GNGW", 4), 0) << "the magic reads as the bytes GNGW";
}

TEST(RecordLayout, StatusBlockInnerRecords) {
  expect_layout("WatchRequest", sizeof(WatchRequest), 24,
                {KS_FIELD(WatchRequest, request_seq, 0, 4), KS_FIELD(WatchRequest, bank, 4, 8),
                 KS_FIELD(WatchRequest, base, 12, 4), KS_FIELD(WatchRequest, count, 16, 4),
                 KS_FIELD(WatchRequest, pending, 20, 4)});
  expect_layout("GroupRange", sizeof(GroupRange), 40,
                {KS_FIELD(GroupRange, bank, 0, 8), KS_FIELD(GroupRange, min, 8, 8),
                 KS_FIELD(GroupRange, max, 16, 8), KS_FIELD(GroupRange, step, 24, 8),
                 KS_FIELD(GroupRange, known, 32, 1), KS_FIELD(GroupRange, watched, 33, 1),
                 KS_FIELD(GroupRange, reserved34, 34, 6)});
  expect_layout("ProtectEntry", sizeof(ProtectEntry), 12,
                {KS_FIELD(ProtectEntry, bank, 0, 8), KS_FIELD(ProtectEntry, input, 8, 2),
                 KS_FIELD(ProtectEntry, reserved10, 10, 2)});
  expect_layout(
      "DeskAnswerSummary", sizeof(DeskAnswerSummary), 156,
      {KS_FIELD(DeskAnswerSummary, ip, 0, 48), KS_FIELD(DeskAnswerSummary, name, 48, 40),
       KS_FIELD(DeskAnswerSummary, model, 88, 24), KS_FIELD(DeskAnswerSummary, id, 112, 40),
       KS_FIELD(DeskAnswerSummary, card, 152, 4)});
  expect_layout("SourceDevice", sizeof(SourceDevice), 16,
                {KS_FIELD(SourceDevice, port, 0, 8), KS_FIELD(SourceDevice, device, 8, 4),
                 KS_FIELD(SourceDevice, strips_without_head_amp, 12, 4)});
  expect_layout("ListedInput", sizeof(ListedInput), 48,
                {KS_FIELD(ListedInput, input, 0, 2), KS_FIELD(ListedInput, has_head_amp, 2, 1),
                 KS_FIELD(ListedInput, phantom, 3, 1), KS_FIELD(ListedInput, is_protected, 4, 1),
                 KS_FIELD(ListedInput, gain_valid, 5, 1), KS_FIELD(ListedInput, reserved6, 6, 2),
                 KS_FIELD(ListedInput, gain_db, 8, 8), KS_FIELD(ListedInput, name, 16, 24),
                 KS_FIELD(ListedInput, fed_count, 40, 1), KS_FIELD(ListedInput, fed, 41, 7)});
}

TEST(RecordLayout, ControlOpAndRing) {
  using T = ControlOp;
  expect_layout("ControlOp", sizeof(T), 144,
                {KS_FIELD(T, seq, 0, 4), KS_FIELD(T, op, 4, 4), KS_FIELD(T, channel, 8, 4),
                 KS_FIELD(T, arg, 12, 4), KS_FIELD(T, arg2, 16, 4), KS_FIELD(T, reserved20, 20, 4),
                 KS_FIELD(T, value, 24, 8), KS_FIELD(T, group, 32, 8), KS_FIELD(T, done_seq, 40, 4),
                 KS_FIELD(T, result, 44, 4), KS_FIELD(T, reply, 48, 96)});

  // Record k of the ring sits at 5376 + 144k in the block, and a request lives in slot seq AND 7.
  static StatusBlock block;
  const char* base = reinterpret_cast<const char*>(&block);
  for (uint32_t k = 0; k < kCommandRecords; ++k)
    EXPECT_EQ(reinterpret_cast<const char*>(&block.ring.op[k]) - base, ptrdiff_t(5376 + 144 * k))
        << k;
  EXPECT_EQ(command_slot(7), 7u);
  EXPECT_EQ(command_slot(8), 0u);
  EXPECT_EQ(command_slot(13), 5u);
  EXPECT_EQ(command_slot(0xFFFFFFFFu), 7u);

  struct Case {
    uint32_t seq, done;
    bool pending;
  };
  for (Case c : {Case{0, 0, false}, Case{0, 5, false}, Case{5, 0, true}, Case{5, 4, true},
                 Case{5, 5, false}, Case{0xFFFFFFFFu, 0xFFFFFFFEu, true}}) {
    ControlOp op{};
    op.seq = c.seq;
    op.done_seq = c.done;
    EXPECT_EQ(control_op_pending(op), c.pending) << "seq " << c.seq << " done " << c.done;
  }

  EXPECT_EQ(uint32_t(ControlOpCode::StereoLink), 1u);
  EXPECT_EQ(uint32_t(ControlOpCode::ScanGroup), 4u);
  EXPECT_EQ(uint32_t(ControlOpCode::SetGain), 6u);
  EXPECT_EQ(uint32_t(ControlOpCode::Verify), 10u);
  EXPECT_EQ(uint32_t(ControlResult::Done), 1u);
  EXPECT_EQ(uint32_t(ControlResult::Refused), 2u);
  EXPECT_EQ(uint32_t(ControlResult::DeskNotAnswering), 3u);
}

TEST(RecordLayout, LoaderBlock) {
  using R = LoaderTypeRecord;
  expect_layout(
      "LoaderTypeRecord", sizeof(R), 120,
      {KS_FIELD(R, type_name, 0, 8), KS_FIELD(R, enabled, 8, 4), KS_FIELD(R, waves_loaded, 12, 4),
       KS_FIELD(R, live_usable, 16, 4), KS_FIELD(R, product_id, 20, 4),
       KS_FIELD(R, running_version, 24, 24), KS_FIELD(R, failure_count, 48, 4),
       KS_FIELD(R, last_error, 52, 4), KS_FIELD(R, failed_file, 56, 64)});
  using T = LoaderBlock;
  expect_layout("LoaderBlock", sizeof(T), 304,
                {KS_FIELD(T, magic, 0, 4), KS_FIELD(T, size, 4, 4),
                 KS_FIELD(T, loader_version, 8, 24), KS_FIELD(T, types, 32, 2 * 120),
                 KS_FIELD(T, extra_live_cards, 272, 8), KS_FIELD(T, identify_counter, 280, 8),
                 KS_FIELD(T, identify_on, 288, 8), KS_FIELD(T, hands_off, 296, 8)});

  // Per-type words at base + 4t, records at 32 + 120t, magic as the bytes "DLSK".
  static LoaderBlock block;
  block.magic = kLoaderMagic;
  block.identify_on[1] = 1;
  block.types[1].failure_count = 3;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&block);
  EXPECT_EQ(std::memcmp(bytes, "DLSK", 4), 0);
  uint32_t word = 0;
  std::memcpy(&word, bytes + 288 + 4, 4);
  EXPECT_EQ(word, 1u);
  std::memcpy(&word, bytes + 32 + 120 + 48, 4);
  EXPECT_EQ(word, 3u);
}

TEST(RecordLayout, LV1FacingShapes) {
  using M = IoBoxModuleInterface;
  expect_layout("IoBoxModuleInterface", sizeof(M), 40,
                {KS_FIELD(M, module_op0, 0, 8), KS_FIELD(M, module_version, 8, 8),
                 KS_FIELD(M, module_op2, 16, 8), KS_FIELD(M, create_device_box, 24, 8),
                 KS_FIELD(M, inner_interface, 32, 8)});
  expect_layout("IoBox", sizeof(IoBox), 35 * 8, {KS_FIELD(IoBox, slot, 0, 35 * 8)});
  using L = IoBoxListener;
  expect_layout(
      "IoBoxListener", sizeof(L), 48,
      {KS_FIELD(L, reserved, 0, 24), KS_FIELD(L, identify, 24, 8),
       KS_FIELD(L, device_state_changed, 32, 8), KS_FIELD(L, channel_type_state_changed, 40, 8)});
  expect_layout(
      "ConsoleIOHost", sizeof(ConsoleIOHost), 24,
      {KS_FIELD(ConsoleIOHost, reserved, 0, 16), KS_FIELD(ConsoleIOHost, rebuild_strip, 16, 8)});
  expect_layout("ConsoleIO", sizeof(ConsoleIO), 120,
                {KS_FIELD(ConsoleIO, slot, 0, 14 * 8), KS_FIELD(ConsoleIO, set_host, 112, 8)});
  expect_layout("GainChangedCallback", sizeof(GainChangedCallback), 16,
                {KS_FIELD(GainChangedCallback, gain_changed, 0, 8),
                 KS_FIELD(GainChangedCallback, phantom_changed, 8, 8)});
  expect_layout("ChunkDecodeSink", sizeof(ChunkDecodeSink), 16,
                {KS_FIELD(ChunkDecodeSink, gain, 0, 8), KS_FIELD(ChunkDecodeSink, phantom, 8, 8)});
  expect_layout("ChunkInfoSupport", sizeof(ChunkInfoSupport), 24,
                {KS_FIELD(ChunkInfoSupport, op0, 0, 8), KS_FIELD(ChunkInfoSupport, decode, 8, 8),
                 KS_FIELD(ChunkInfoSupport, op2, 16, 8)});
  expect_layout("ChannelsChunkSupport", sizeof(ChannelsChunkSupport), 16,
                {KS_FIELD(ChannelsChunkSupport, op0, 0, 8),
                 KS_FIELD(ChannelsChunkSupport, scene_recall, 8, 8)});
}

TEST(SharedText, StatusBlockName) {
  char16_t wide[kStatusBlockNameMax];
  ASSERT_TRUE(status_block_name(wide, kStatusSuffixWingU16));
  EXPECT_EQ(std::u16string(wide), u"Local\\KestruneStatus");
  ASSERT_TRUE(status_block_name(wide, kStatusSuffixX32U16));
  EXPECT_EQ(std::u16string(wide), u"Local\\KestruneStatus-x32");
  ASSERT_TRUE(status_block_name(wide, static_cast<const char16_t*>(nullptr)));
  EXPECT_EQ(std::u16string(wide), u"Local\\KestruneStatus");

  // The suffix comes from the host: one that does not fit gives no name rather than a cut one.
  char narrow[kStatusBlockNameMax];
  std::string fits(kStatusBlockNameMax - 1 - std::strlen(kStatusBlockBaseName), 'x');
  ASSERT_TRUE(status_block_name(narrow, fits.c_str()));
  EXPECT_EQ(std::strlen(narrow), kStatusBlockNameMax - 1);
  std::string too_long = fits + "y";
  EXPECT_FALSE(status_block_name(narrow, too_long.c_str()));
  EXPECT_EQ(narrow[0], '\0');
}

TEST(SharedText, FieldCopiesAreBoundedAndTerminated) {
  // A group name written by another process with no NUL in its 8 bytes.
  ControlOp op{};
  std::memcpy(op.group, "ABCDEFGH", 8);
  char group[9];
  EXPECT_EQ(copy_field_text(group, op.group, sizeof op.group), 8u);
  EXPECT_STREQ(group, "ABCDEFGH");
  char small[4];
  EXPECT_EQ(copy_field_text(small, op.group, sizeof op.group), 3u);
  EXPECT_STREQ(small, "ABC");
  EXPECT_EQ(copy_field_text(small, nullptr, 8), 0u);
  EXPECT_STREQ(small, "");

  // Writing a shorter text leaves no tail of the longer one behind.
  char field[8];
  set_field_text(field, "LONGER1");
  set_field_text(field, "A");
  EXPECT_STREQ(field, "A");
  for (size_t i = 1; i < sizeof field; ++i) EXPECT_EQ(field[i], '\0') << i;
  set_field_text(field, "MUCH TOO LONG");
  EXPECT_EQ(std::string(field, 8), std::string("MUCH TO\0", 8));
}

TEST(SharedText, NamesAndTags) {
  EXPECT_STREQ(kLoaderBlockName, "Local\\KestruneLoader");
  EXPECT_STREQ(kModulesChangedEventName, "Local\\KestruneModulesChanged");
  EXPECT_EQ(std::u16string(kModulesChangedEventNameU16), u"Local\\KestruneModulesChanged");
  EXPECT_EQ(fourcc("GNGW"), 0x57474E47u);
  EXPECT_EQ(kLoaderMagic, 0x4B534C44u);
}

}  // namespace
}  // namespace ks
