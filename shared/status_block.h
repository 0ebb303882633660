// StatusBlock: a console module's state in named shared memory ("Local\KestruneStatus" plus the
// host's suffix), read by the tray program. The offsets are the contract with the tray program.
//
// There is no lock. Every field has one writer: the module writes everything except the
// WatchRequest (with its resync word far away at 2224), last_posted_seq and the request fields of
// free ControlOp slots, which the tray program writes. Requests and replies are matched by
// sequence words (see ControlOp), read and written with shm_load / shm_store.
//
// The section is kStatusMappingSize bytes; the module maps and uses the first kStatusBlockUsed.
#pragma once

#include <cstdint>

#include "shared/names.h"
#include "shared/records.h"

namespace ks {

inline constexpr uint32_t kStatusMagic = 0x57474E47;  // the bytes "GNGW"
static_assert(kStatusMagic == fourcc("GNGW"));
inline constexpr uint32_t kStatusLayoutVersion = 17;
inline constexpr uint32_t kStatusBlockUsed = 11200;
inline constexpr uint32_t kStatusMappingSize = 0x40000;

inline constexpr uint32_t kGroupRanges = 8;
inline constexpr uint32_t kListedInputs = 64;
inline constexpr uint32_t kListedFedMax = 7;  // LV1 channels noted per listed input
inline constexpr uint32_t kAnswerSummaries = 6;
inline constexpr uint32_t kSourceDevices = 4;
inline constexpr uint32_t kReplyBytes = 96;  // reply text: at most 95 characters
inline constexpr uint32_t kStatusTextBytes = 96;
inline constexpr uint32_t kChannelNameBytes = 20;
inline constexpr uint32_t kBankBytes = 8;  // group names: at most 7 characters

inline constexpr double kNoLevelDb = -144.0;  // level and peak when there is no meter value
inline constexpr uint32_t kPatchNeverRead = 0xFFFFFFFF;
// Gain range published while the watched bank's range is unknown, dB.
inline constexpr double kUnknownRangeMin = 0.0;
inline constexpr double kUnknownRangeMax = 45.0;
inline constexpr double kUnknownRangeStep = 2.5;

// ---- command records ----------------------------------------------------------------------------

enum class ControlOpCode : uint32_t {
  StereoLink = 1,
  StereoUnlink = 2,
  MidSideLink = 3,
  ScanGroup = 4,
  Reroute = 5,
  SetGain = 6,
  SetPhantom = 7,
  SetProtect = 8,
  RereadInput = 9,
  Verify = 10,
};

enum class ControlResult : uint32_t {
  Done = 1,
  Refused = 2,
  DeskNotAnswering = 3,
};

inline constexpr uint32_t kPhantomArgOn = 2;   // SetPhantom: arg 2 switches on, anything else off
inline constexpr uint32_t kProtectArgAdd = 5;  // SetProtect: arg 5 adds, anything else removes

// One dashboard action. The tray program fills the request fields of a free slot (op .. group),
// clears result, reply[0] and done_seq, and then writes seq. The module serves a pending slot
// (seq != 0 and done_seq != seq), writes reply and result, and then done_seq := the seq it served.
// The record lives in slot seq AND 7.
struct ControlOp {
  uint32_t seq;     // 0: free
  uint32_t op;      // ControlOpCode; unknown values are refused
  int32_t channel;  // LV1 channel 0-63 (negative for ops that name an input by group)
  uint32_t arg;
  uint32_t arg2;  // an input number for ops that name one
  uint32_t reserved20;
  double value;            // dB for SetGain; may be anything, checked before use
  char group[kBankBytes];  // may arrive without a NUL
  uint32_t done_seq;
  uint32_t result;  // ControlResult
  char reply[kReplyBytes];
};
static_assert(sizeof(ControlOp) == 144);
static_assert(offsetof(ControlOp, value) == 24 && offsetof(ControlOp, group) == 32);
static_assert(offsetof(ControlOp, done_seq) == 40 && offsetof(ControlOp, reply) == 48);

struct CommandRing {
  ControlOp op[kCommandRecords];
};
static_assert(sizeof(CommandRing) == 1152);

inline constexpr uint32_t command_slot(uint32_t seq) { return seq & (kCommandRecords - 1); }
static_assert((kCommandRecords & (kCommandRecords - 1)) == 0);

// A slot holds a request the module has not answered yet.
inline bool control_op_pending(const ControlOp& rec) {
  uint32_t seq = shm_load(rec.seq);
  return seq != 0 && shm_load(rec.done_seq) != seq;
}

// ---- records inside the block -------------------------------------------------------------------

// The tray program's request for what to watch. The module applies a request_seq it has not seen.
struct WatchRequest {
  uint32_t request_seq;   // incremented by the tray program
  char bank[kBankBytes];  // empty: keep the current bank; may arrive without a NUL
  uint32_t base;          // 0: keep; above 64 means 64
  uint32_t count;         // 0: keep; above 64 means 64
  uint32_t pending;       // not read by the module
};
static_assert(sizeof(WatchRequest) == 24);

struct GroupRange {
  char bank[kBankBytes];
  double min;
  double max;
  double step;
  uint8_t known;    // 1
  uint8_t watched;  // watched LV1 channels in this bank, at most 255
  uint8_t reserved34[6];
};
static_assert(sizeof(GroupRange) == 40 && offsetof(GroupRange, known) == 32);

struct ProtectEntry {
  char bank[kBankBytes];
  uint16_t input;
  uint8_t reserved10[2];
};
static_assert(sizeof(ProtectEntry) == 12 && offsetof(ProtectEntry, input) == 8);

struct DeskAnswerSummary {
  char ip[48];
  char name[40];
  char model[24];
  char id[40];
  int32_t card;  // 1 card, 0 none, -1 unknown
};
static_assert(sizeof(DeskAnswerSummary) == 156);
static_assert(offsetof(DeskAnswerSummary, model) == 88 && offsetof(DeskAnswerSummary, card) == 152);

struct SourceDevice {
  char port[kBankBytes];
  int32_t device;  // 0: nothing connected
  uint32_t strips_without_head_amp;
};
static_assert(sizeof(SourceDevice) == 16);

// One input of the reroute page's list.
struct ListedInput {
  uint16_t input;
  uint8_t has_head_amp;
  uint8_t phantom;
  uint8_t is_protected;
  uint8_t gain_valid;
  uint8_t reserved6[2];
  double gain_db;
  char name[24];
  uint8_t fed_count;           // LV1 channels fed from this input, at most 7
  uint8_t fed[kListedFedMax];  // those channels, counted from 0
};
static_assert(sizeof(ListedInput) == 48);
static_assert(offsetof(ListedInput, gain_db) == 8 && offsetof(ListedInput, name) == 16);
static_assert(offsetof(ListedInput, fed_count) == 40 && offsetof(ListedInput, fed) == 41);

// What discovery made of the answers (StatusBlock::discovery_decision).
enum class DiscoveryDecision : uint32_t {
  Nothing = 0,              // nothing yet
  OnlyAnswerHasCard = 1,    // the only answer has a card (or an unknown card)
  ChosenFound = 2,          // the console named by `console` was found
  OneOfSeveralHasCard = 3,  // exactly one of several answers has a card, none unknown
  ChoiceNeeded = 4,         // one answer without a card, or several: the user chooses
  ChosenAbsent = 5,         // `console` is set and not among the answers
};

// Address check of the `ip` setting (StatusBlock::address_state).
enum class AddressState : uint32_t {
  Ok = 0,
  LookingEverywhere = 1,
  NothingAtIp = 2,
  OtherConsoleAtIp = 3,
};

// ---- the block ----------------------------------------------------------------------------------

struct StatusBlock {
  uint32_t magic;    // kStatusMagic
  uint32_t version;  // kStatusLayoutVersion
  char desk_ip[64];
  char desk_line[160];  // the desk's IdentityLine
  uint32_t desk_answering;
  uint32_t publish_mark;
  double range_min;  // of the watched bank
  double range_max;
  double range_step;
  char watch_bank[kBankBytes];
  uint32_t watch_base;   // first desk input
  uint32_t watch_count;  // LV1 channels, 1..64
  uint32_t lv1_loaded;
  uint32_t sent_count;
  uint32_t recv_count;
  uint32_t reserved292;
  uint64_t last_write_tick;  // tick of the last write to the desk
  double gain_db[kChannels];
  uint8_t phantom[kChannels];
  WatchRequest watch_request;  // tray writes
  char mac[24];                // "%02x:..:%02x", empty when the host has none
  char profile[32];            // "box"
  uint32_t patch_age_ms;       // kPatchNeverRead: never
  uint32_t degraded;
  char status_text[kStatusTextBytes];
  char src_bank[kChannels][kBankBytes];
  uint32_t src_input[kChannels];
  uint8_t has_head_amp[kChannels];
  GroupRange ranges[kGroupRanges];
  uint32_t range_count;
  uint32_t resync_echo;   // 1 lv1, 0 desk
  uint32_t watch_resync;  // part of the watch request (tray writes): non-0 = lv1
  uint32_t reserved2228;
  double level_db[kChannels];  // kNoLevelDb: none
  double peak_db[kChannels];
  uint8_t clip[kChannels];
  uint32_t meters_live;
  uint32_t meter_frames;
  char channel_name[kChannels][kChannelNameBytes];
  uint8_t link_mode[kChannels];   // 0 mono, 1/2 stereo lower/upper, 3/4 mid/side lower/upper
  uint8_t mute_state[kChannels];  // 0 open, 1 "mute", 2 "$mute"
  uint8_t is_protected[kChannels];
  double parked_gain_db[kChannels];
  uint8_t parked_valid[kChannels];
  CommandRing ring;
  uint32_t last_posted_seq;  // tray only
  // The input list sits flat here: at 6532 it is not 8-aligned, and as a nested record holding
  // an f64 the compiler would move it to 6536.
  uint32_t input_list_serial;
  char input_list_group[kBankBytes];
  uint32_t input_list_count;
  uint32_t input_list_reserved;
  ListedInput input_list[kListedInputs];
  uint32_t protect_count;
  ProtectEntry protect[kProtectCapacity];
  uint32_t discovery_decision;
  uint32_t answer_count;  // at most kAnswerSummaries
  DeskAnswerSummary answers[kAnswerSummaries];
  char chosen_console[40];       // the setting `console`
  uint32_t source_device_count;  // X32/M32 only
  SourceDevice source_devices[kSourceDevices];
  uint32_t address_state;  // AddressState
  uint32_t address_moves;
  char address_ip[48];  // the `ip` setting
  char address_id[40];  // what answers at `ip`
  char address_name[40];
};

static_assert(sizeof(StatusBlock) == kStatusBlockUsed && kPlainRecord<StatusBlock>);
static_assert(kStatusBlockUsed <= kStatusMappingSize);
static_assert(offsetof(StatusBlock, desk_ip) == 8);
static_assert(offsetof(StatusBlock, desk_line) == 72);
static_assert(offsetof(StatusBlock, desk_answering) == 232);
static_assert(offsetof(StatusBlock, publish_mark) == 236);
static_assert(offsetof(StatusBlock, range_min) == 240);
static_assert(offsetof(StatusBlock, range_max) == 248);
static_assert(offsetof(StatusBlock, range_step) == 256);
static_assert(offsetof(StatusBlock, watch_bank) == 264);
static_assert(offsetof(StatusBlock, watch_base) == 272);
static_assert(offsetof(StatusBlock, watch_count) == 276);
static_assert(offsetof(StatusBlock, lv1_loaded) == 280);
static_assert(offsetof(StatusBlock, sent_count) == 284);
static_assert(offsetof(StatusBlock, recv_count) == 288);
static_assert(offsetof(StatusBlock, last_write_tick) == 296);
static_assert(offsetof(StatusBlock, gain_db) == 304);
static_assert(offsetof(StatusBlock, phantom) == 816);
static_assert(offsetof(StatusBlock, watch_request) == 880);
static_assert(offsetof(StatusBlock, watch_request.bank) == 884);
static_assert(offsetof(StatusBlock, watch_request.base) == 892);
static_assert(offsetof(StatusBlock, watch_request.count) == 896);
static_assert(offsetof(StatusBlock, watch_request.pending) == 900);
static_assert(offsetof(StatusBlock, mac) == 904);
static_assert(offsetof(StatusBlock, profile) == 928);
static_assert(offsetof(StatusBlock, patch_age_ms) == 960);
static_assert(offsetof(StatusBlock, degraded) == 964);
static_assert(offsetof(StatusBlock, status_text) == 968);
static_assert(offsetof(StatusBlock, src_bank) == 1064);
static_assert(offsetof(StatusBlock, src_input) == 1576);
static_assert(offsetof(StatusBlock, has_head_amp) == 1832);
static_assert(offsetof(StatusBlock, ranges) == 1896);
static_assert(offsetof(StatusBlock, range_count) == 2216);
static_assert(offsetof(StatusBlock, resync_echo) == 2220);
static_assert(offsetof(StatusBlock, watch_resync) == 2224);
static_assert(offsetof(StatusBlock, level_db) == 2232);
static_assert(offsetof(StatusBlock, peak_db) == 2744);
static_assert(offsetof(StatusBlock, clip) == 3256);
static_assert(offsetof(StatusBlock, meters_live) == 3320);
static_assert(offsetof(StatusBlock, meter_frames) == 3324);
static_assert(offsetof(StatusBlock, channel_name) == 3328);
static_assert(offsetof(StatusBlock, link_mode) == 4608);
static_assert(offsetof(StatusBlock, mute_state) == 4672);
static_assert(offsetof(StatusBlock, is_protected) == 4736);
static_assert(offsetof(StatusBlock, parked_gain_db) == 4800);
static_assert(offsetof(StatusBlock, parked_valid) == 5312);
static_assert(offsetof(StatusBlock, ring) == 5376);
static_assert(offsetof(StatusBlock, last_posted_seq) == 6528);
static_assert(offsetof(StatusBlock, input_list_serial) == 6532);
static_assert(offsetof(StatusBlock, input_list_group) == 6536);
static_assert(offsetof(StatusBlock, input_list_count) == 6544);
static_assert(offsetof(StatusBlock, input_list) == 6552);
static_assert(offsetof(StatusBlock, protect_count) == 9624);
static_assert(offsetof(StatusBlock, protect) == 9628);
static_assert(offsetof(StatusBlock, discovery_decision) == 10012);
static_assert(offsetof(StatusBlock, answer_count) == 10016);
static_assert(offsetof(StatusBlock, answers) == 10020);
static_assert(offsetof(StatusBlock, chosen_console) == 10956);
static_assert(offsetof(StatusBlock, source_device_count) == 10996);
static_assert(offsetof(StatusBlock, source_devices) == 11000);
static_assert(offsetof(StatusBlock, address_state) == 11064);
static_assert(offsetof(StatusBlock, address_moves) == 11068);
static_assert(offsetof(StatusBlock, address_ip) == 11072);
static_assert(offsetof(StatusBlock, address_id) == 11120);
static_assert(offsetof(StatusBlock, address_name) == 11160);

// The block's full name, "Local\KestruneStatus" + suffix, into out (UTF-16 or UTF-8 by the buffer
// type). false (out empty) when the suffix would not fit in kStatusBlockNameMax characters.
template <class Ch>
inline bool status_block_name(Ch (&out)[kStatusBlockNameMax], const Ch* suffix) {
  const char* base = kStatusBlockBaseName;
  size_t n = 0;
  for (; base[n] != '\0'; ++n) out[n] = Ch(base[n]);
  for (size_t i = 0; suffix && suffix[i] != Ch(0); ++i) {
    if (n + 1 >= kStatusBlockNameMax) {
      out[0] = Ch(0);
      return false;
    }
    out[n++] = suffix[i];
  }
  out[n] = Ch(0);
  return true;
}

}  // namespace ks
