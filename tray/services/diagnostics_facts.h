// The report's facts taken from what the live system shares: the loader block's copy and a
// console module's status block. Nothing here trusts the other side: every text is bounded by
// its field and every count by its array.
#pragma once

#include <cstdint>

#include "shared/loader_block.h"
#include "tray/services/diagnostics_report.h"
#include "tray/services/status_link.h"

namespace ks::tray {

// The loader version and one record per type that has a name, from a copy loader_block_of made.
void loader_facts_of(const uint8_t (&copy)[kLoaderBlockSize], DiagFacts& facts);

// The status section of a mapped block; nullopt when the view is not a whole block with the
// magic. `mismatch` is set when the block's layout differs from the one this program reads.
std::optional<DiagStatus> status_facts_of(BlockView view);

// The install line's state from the install facts: not installed, older layout, an update of the
// installed bundle pending, or current.
DiagInstall install_state_of(bool installed, bool legacy, bool update_pending);

}  // namespace ks::tray
