// The tray program's private copy of one console module's status block: the fields the setup
// page and the console cards read, in the order the status link copies them. Texts are copied
// byte for byte from shared memory and may arrive without a NUL; read them with snap_text().
// Counts are copied as found; read them with answer_count() / source_device_count(), which bound
// them to the arrays.
#pragma once

#include <cstdint>
#include <string_view>

#include "shared/status_block.h"
#include "tray/services/status_snapshot.h"  // the record itself

namespace ks::tray {

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
