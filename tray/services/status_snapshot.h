// The tray program's private copy of one console module's status block, as the status link
// takes it (snapshot_of in status_link.h): texts end inside their fields, counts are within their
// arrays, and the fields of a layout newer than the block's stay zero.
#pragma once

#include <cstdint>

#include "shared/status_block.h"

namespace ks::tray {

// Layout versions that added fields, and the one below which the dashboard calls the module old.
inline constexpr uint32_t kSnapshotDiscoveryVersion = 15;
inline constexpr uint32_t kSnapshotSourceDevicesVersion = 16;
inline constexpr uint32_t kSnapshotAddressVersion = 17;
inline constexpr uint32_t kModuleCurrentVersion = 16;

// The tray program's private copy of one block. Default-constructed: all zero (present 0).
struct StatusSnapshot {
  uint32_t present = 0;
  uint32_t desk_answering = 0;
  uint32_t lv1_loaded = 0;
  uint32_t version = 0;
  char status_text[kStatusTextBytes] = {};
  char desk_line[160] = {};
  uint8_t has_head_amp[kChannels] = {};
  char src_bank[kChannels][kBankBytes] = {};
  uint32_t src_input[kChannels] = {};
  // from layout version 15
  uint32_t discovery_decision = 0;
  uint32_t answer_count = 0;  // at most kAnswerSummaries
  DeskAnswerSummary answers[kAnswerSummaries] = {};
  char chosen_console[40] = {};
  // from layout version 16
  uint32_t source_device_count = 0;  // at most kSourceDevices
  SourceDevice source_devices[kSourceDevices] = {};
  // from layout version 17
  uint32_t address_state = 0;
  uint32_t address_moves = 0;
  char address_ip[48] = {};
  char address_id[40] = {};
  char address_name[40] = {};
};
static_assert(kPlainRecord<StatusSnapshot>);

}  // namespace ks::tray
