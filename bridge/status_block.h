// The module's status block: its state in named shared memory for the tray program.
//
// The block is absent until published; every writer checks status_block() for null and does
// nothing while it is absent. The block has no lock: each field has one writer (mostly the
// watcher), and the tray's requests are matched by sequence words.
#pragma once

#include <cstdint>

#include "shared/status_block.h"

namespace ks {

// The mapped block, or null while it is absent.
StatusBlock* status_block();

// Tests and the native build: publish into a block in ordinary memory instead of a named
// mapping (null goes back to the mapping). The memory is zeroed and stamped as at publish.
void status_block_use_memory(StatusBlock* mem);

}  // namespace ks
