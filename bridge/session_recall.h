// Preamp values stored in an LV1 session, held until the console has been read and applied then.
#pragma once

#include <cstdint>

namespace ks {

// The module table's session_recall (LV1's thread, during its session load): copies the three
// arrays of 64 and applies them at once when the first seeding sweep has finished, else holds
// them. Nothing is kept while the setting session_recall is off. A gain that is not finite, or
// beyond any head amp's range, is never kept for its channel.
void session_recall(const double* gain, const std::uint32_t* phantom, const std::uint32_t* preamp);

// Applies held values once per recall (the watcher after every seeding sweep, and session_recall):
// only when values are held and not applied yet; while the link is down they stay held.
// Returns the number of channels written.
int apply_held_values();

// Drops held values (a module re-armed after stop, and tests).
void session_recall_reset();

// Values are held and still wait to be applied.
bool session_values_pending();

}  // namespace ks
