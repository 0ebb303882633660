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

// Creates and maps "Local\KestruneStatus" + the host's suffix when not mapped, zeroes the used
// bytes (even of a block an earlier run left behind) and writes magic and version. True when the
// block is there afterwards.
bool status_block_publish();

// Tests and the native build: publish into a block in ordinary memory instead of a named
// mapping (null goes back to the mapping). The memory is zeroed and stamped as at publish.
void status_block_use_memory(StatusBlock* mem);

// The address check of the `ip` setting as discovery keeps it (any thread; copied under a lock).
struct AddressCheck {
  std::uint32_t state = 0;  // AddressState
  std::uint32_t moves = 0;
  char ip[48] = {};
  char id[40] = {};  // what answers at ip
  char name[40] = {};
};
void status_set_address(const AddressCheck& check);
AddressCheck status_address();

// Discovery's status line: a null or empty text clears the line only when it is the one this
// function wrote last (while no desk is chosen, the searching line takes its place). Also writes
// the address-check fields.
void status_set_text(const char* text);

// Copies the address check into the block.
void status_write_address();

// The watcher's publish (every 50 ms or more): desk state, channels, ranges, lists; then applies
// a new watch request from the tray.
void status_block_sync();

// At stop: flags to 0, "Module stopped"; the view is unmapped only when unmap is true (a thread
// that did not come back may still write into it).
void status_block_close(bool unmap);

// The desk taken: its ip and identity line into the block.
void status_desk_taken(const char* ip, const char* identity_line);

// Back to the state at load (tests).
void status_block_reset();

}  // namespace ks
