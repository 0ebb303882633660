// What the status block's files share: its text fields written whole, and the pieces of the
// watcher's publish that keep state beside the block. Included by the status block's files only.
#pragma once

#include <cstddef>

#include "shared/records.h"
#include "shared/status_block.h"

namespace ks {

template <std::size_t N>
void put_text(char (&field)[N], const char* text) {
  set_field_text(field, text ? text : "");
}

// status_block.cpp: the status line as the watcher's publish writes it (the first text that
// applies); discovery's last line is no longer the one on show.
void status_text_sync(StatusBlock* b);

// status_snapshot.cpp: forgets the ports line last logged (a block published afresh).
void status_snapshot_forget();

// status_watch_request.cpp: applies a new watch request from the tray; forgetting the one last
// applied makes the next request in a fresh block count whatever its number.
void apply_watch_request(StatusBlock* b);
void watch_request_forget();

}  // namespace ks
