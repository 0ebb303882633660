// The tray program's private copy of one console module's status block: the fields the setup
// page and the console cards read, in the order the status link copies them. Texts are copied
// byte for byte from shared memory and may arrive without a NUL; read them with snap_text().
// Counts are copied as found; read them with answer_count() / source_device_count(), which bound
// them to the arrays.
#pragma once

#include <cstdint>
#include <string_view>

#include "shared/status_block.h"

namespace ks::tray {

struct StatusSnapshot {
  uint32_t present;         // 1: a block with the right magic was read
  uint32_t desk_answering;
  uint32_t lv1_loaded;
  uint32_t version;         // layout version of the block
  char status_text[kStatusTextBytes];
  char desk_line[160];
  uint8_t has_head_amp[kChannels];
  char src_bank[kChannels][kBankBytes];
  uint32_t src_input[kChannels];
  // layout 15 and later
  uint32_t discovery_decision;
  uint32_t answer_count;
  DeskAnswerSummary answers[kAnswerSummaries];
  char chosen_console[40];
  // layout 16 and later
  uint32_t source_device_count;
  SourceDevice source_devices[kSourceDevices];
  // layout 17 and later
  uint32_t address_state;
  uint32_t address_moves;
  char address_ip[48];
  char address_id[40];
  char address_name[40];
};
static_assert(kPlainRecord<StatusSnapshot>);

// A text field of a snapshot (or of any shared record), never read past its array.
template <size_t N>
inline std::string_view snap_text(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field, n);
}

inline uint32_t answer_count(const StatusSnapshot& s) {
  return s.answer_count < kAnswerSummaries ? s.answer_count : kAnswerSummaries;
}
inline uint32_t source_device_count(const StatusSnapshot& s) {
  return s.source_device_count < kSourceDevices ? s.source_device_count : kSourceDevices;
}

// Copies a status block into a snapshot the way the status link does: nothing unless the magic
// is right; the fields of a layout newer than the block's stay zero.
void snapshot_from_block(const StatusBlock& block, StatusSnapshot& out);

}  // namespace ks::tray
